// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <opencv2/core.hpp>

namespace TamoHandEye {
namespace Detect {

/// Allocates matrix buffers straight from the kernel, 2 MiB aligned and marked for transparent huge
/// pages, and keeps the last released buffer for the next matrix of the same size. A full-resolution
/// cloud is 55 MB per shot; taken as fresh 4 KiB pages, its page faults cost far more than reading the
/// file (see bench/RESULTS.md).
class LargeBufferAllocator : public cv::MatAllocator {
 public:
  /// The process-wide instance (never destroyed: matrices may outlive any scope).
  static cv::MatAllocator* Instance();

  cv::UMatData* allocate(int dims, const int* sizes, int type, void* data, size_t* step, cv::AccessFlag flags,
                         cv::UMatUsageFlags usageFlags) const override;
  bool allocate(cv::UMatData* data, cv::AccessFlag flags, cv::UMatUsageFlags usageFlags) const override;
  void deallocate(cv::UMatData* data) const override;
};

}  // namespace Detect
}  // namespace TamoHandEye
