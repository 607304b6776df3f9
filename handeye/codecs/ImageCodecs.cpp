// SPDX-License-Identifier: Apache-2.0
#include "ImageCodecs.h"

#include <dlfcn.h>

#include <mutex>

namespace TarnCodecs {
namespace {

using DecodeFn = cv::Mat (*)(const cv::_InputArray&, int);
using EncodeFn = bool (*)(const std::string&, const cv::_InputArray&, std::vector<unsigned char>&,
                          const std::vector<int>&);
using ReadFn = cv::Mat (*)(const std::string&, int);
using WriteFn = bool (*)(const std::string&, const cv::_InputArray&, const std::vector<int>&);

// The codecs' entry points, as the library exports them (C++ names, the GCC ABI of the build).
struct Codecs {
  DecodeFn decode = nullptr;
  EncodeFn encode = nullptr;
  ReadFn read = nullptr;
  WriteFn write = nullptr;
  std::string problem;
};

template <typename Fn>
Fn Find(void* library, const char* name, std::string& problem) {
  void* symbol = ::dlsym(library, name);
  if (symbol == nullptr && problem.empty()) problem = std::string(TARN_IMGCODECS_SONAME " lacks ") + name;
  return reinterpret_cast<Fn>(symbol);
}

const Codecs& Loaded() {
  static Codecs codecs;
  static std::once_flag once;
  std::call_once(once, [] {
    // Never closed: decoded images' buffers and the codecs' own state live until the program ends.
    void* library = ::dlopen(TARN_IMGCODECS_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      const char* error = ::dlerror();
      codecs.problem = std::string("the image codecs cannot be loaded: ") + (error ? error : TARN_IMGCODECS_SONAME);
      return;
    }
    std::string& problem = codecs.problem;
    codecs.decode = Find<DecodeFn>(library, "_ZN2cv8imdecodeERKNS_11_InputArrayEi", problem);
    codecs.encode = Find<EncodeFn>(library,
                                   "_ZN2cv8imencodeERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKNS_11_"
                                   "InputArrayERSt6vectorIhSaIhEERKSB_IiSaIiEE",
                                   problem);
    codecs.read =
        Find<ReadFn>(library, "_ZN2cv6imreadERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEi", problem);
    codecs.write = Find<WriteFn>(library,
                                 "_ZN2cv7imwriteERKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEERKNS_11_"
                                 "InputArrayERKSt6vectorIiSaIiEE",
                                 problem);
    if (!problem.empty()) codecs = Codecs{nullptr, nullptr, nullptr, nullptr, "the image codecs: " + problem};
  });
  return codecs;
}

}  // namespace

cv::Mat Decode(const std::vector<unsigned char>& bytes, int flags) {
  const Codecs& c = Loaded();
  return c.decode ? c.decode(bytes, flags) : cv::Mat();
}

bool Encode(const std::string& extension, const cv::Mat& image, std::vector<unsigned char>& encoded,
            const std::vector<int>& params) {
  const Codecs& c = Loaded();
  return c.encode != nullptr && c.encode(extension, image, encoded, params);
}

cv::Mat Read(const std::string& path, int flags) {
  const Codecs& c = Loaded();
  return c.read ? c.read(path, flags) : cv::Mat();
}

bool Write(const std::string& path, const cv::Mat& image, const std::vector<int>& params) {
  const Codecs& c = Loaded();
  return c.write != nullptr && c.write(path, image, params);
}

std::string LoadProblem() {
  const Codecs& c = Loaded();
  return c.problem;
}

}  // namespace TarnCodecs
