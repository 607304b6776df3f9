// SPDX-License-Identifier: Apache-2.0
#include "detect/LargeBufferAllocator.h"

#include "api/LibraryLogger.h"

#include <sys/mman.h>

#include <cstdint>
#include <mutex>
#include <utility>

namespace TamoHandEye {
namespace Detect {
namespace {
constexpr std::size_t kHugePage = std::size_t(2) << 20;

// One released mapping kept for the next matrix of the same size: shots come one after another, and a
// reused buffer needs neither new pages nor the kernel's zeroing of them.
struct Spare {
  std::mutex mutex;
  void* mapping = nullptr;
  std::size_t total = 0;
};

Spare& TheSpare() {
  static Spare* const spare = new Spare();
  return *spare;
}
}  // namespace

cv::MatAllocator* LargeBufferAllocator::Instance() {
  static LargeBufferAllocator* const instance = new LargeBufferAllocator();
  return instance;
}

cv::UMatData* LargeBufferAllocator::allocate(int dims, const int* sizes, int type, void* data0, size_t* step,
                                             cv::AccessFlag /*flags*/, cv::UMatUsageFlags /*usageFlags*/) const {
  auto total = static_cast<std::size_t>(CV_ELEM_SIZE(type));
  for (int i = dims - 1; i >= 0; i--) {
    if (step) {
      if (data0 && step[i] != cv::Mat::AUTO_STEP) {
        total = step[i];
      } else {
        step[i] = total;
      }
    }
    total *= static_cast<std::size_t>(sizes[i]);
  }
  auto* u = new cv::UMatData(this);
  u->size = total;
  if (data0) {
    u->data = u->origdata = static_cast<uchar*>(data0);
    u->flags |= cv::UMatData::USER_ALLOCATED;
    return u;
  }
  void* mapping = nullptr;
  {
    Spare& spare = TheSpare();
    std::lock_guard<std::mutex> lock(spare.mutex);
    if (spare.mapping != nullptr && spare.total == total) {
      mapping = spare.mapping;
      spare.mapping = nullptr;
    }
  }
  // Map a huge page more than needed, so that the buffer can start on a huge-page boundary.
  if (mapping == nullptr) {
    mapping = ::mmap(nullptr, total + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  }
  if (mapping == MAP_FAILED) {
    delete u;
    CV_Error(cv::Error::StsNoMem, "cannot map memory for a matrix");
  }
  const auto base = reinterpret_cast<std::uintptr_t>(mapping);
  const std::uintptr_t aligned = (base + kHugePage - 1) & ~(kHugePage - 1);
  ::madvise(reinterpret_cast<void*>(aligned), total, MADV_HUGEPAGE);  // a hint: failure is harmless
  u->origdata = static_cast<uchar*>(mapping);
  u->data = reinterpret_cast<uchar*>(aligned);
  return u;
}

bool LargeBufferAllocator::allocate(cv::UMatData* u, cv::AccessFlag /*flags*/,
                                    cv::UMatUsageFlags /*usageFlags*/) const {
  return u != nullptr;
}

void LargeBufferAllocator::deallocate(cv::UMatData* u) const {
  if (!u) return;
  CV_Assert(u->urefcount == 0);
  CV_Assert(u->refcount == 0);
  if (!(u->flags & cv::UMatData::USER_ALLOCATED)) {
    void* release = u->origdata;
    std::size_t releaseTotal = u->size;
    {
      Spare& spare = TheSpare();
      std::lock_guard<std::mutex> lock(spare.mutex);
      std::swap(release, spare.mapping);  // keep the newest, release the one kept before
      std::swap(releaseTotal, spare.total);
    }
    if (release != nullptr) ::munmap(release, releaseTotal + kHugePage);
  }
  delete u;
}

}  // namespace Detect
}  // namespace TamoHandEye
