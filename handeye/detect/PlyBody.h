// SPDX-License-Identifier: Apache-2.0
#pragma once

// The body of a PLY file, below its header: scalars in either byte order, a file read at explicit offsets
// or through a buffer, element instances skipped or read, and an ASCII body read whole.

#include "detect/PlyReader.h"
#include "detect/ShotFiles.h"

#include <opencv2/core.hpp>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace TamoHandEye {
namespace Detect {

inline constexpr std::size_t kChunkBytes = 1 << 20;
inline constexpr bool kNativeLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

/// "N bytes after the last vertex; …": a binary body longer than its header declares.
std::string Trailing(std::size_t extra);
/// One scalar of `type` at `p`, in the file's byte order, as a double.
double Decode(const unsigned char* p, PlyReader::Type type, bool swap);

/// An open file read at explicit offsets; closes itself.
class File {
 public:
  explicit File(const std::string& path) : fd(OpenRegularFile(path, size, error)) {}
  ~File() {
    if (fd >= 0) ::close(fd);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool Open() const { return fd >= 0; }
  std::size_t Size() const { return size; }
  const std::string& Error() const { return error; }

  // Reads exactly `n` bytes at `offset`; false when the file ends first.
  bool ReadAt(std::size_t offset, void* destination, std::size_t n) const {
    auto* out = static_cast<char*>(destination);
    while (n > 0) {
      const ssize_t got = ::pread(fd, out, std::min<std::size_t>(n, 1u << 30), static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      offset += static_cast<std::size_t>(got);
      n -= static_cast<std::size_t>(got);
    }
    return true;
  }

 private:
  std::size_t size = 0;
  std::string error;
  int fd = -1;
};

/// Sequential reading through a buffer, for records of varying length (list properties).
class Stream {
 public:
  Stream(const File& f, std::size_t start) : file(f), position(start) {}

  /// The file offset of the next byte to be read.
  std::size_t Position() const { return position - (end - begin); }

  bool Read(unsigned char* destination, std::size_t n) {
    while (n > 0) {
      if (begin == end && !Fill()) return false;
      const std::size_t take = std::min(n, end - begin);
      std::memcpy(destination, buffer.data() + begin, take);
      begin += take;
      destination += take;
      n -= take;
    }
    return true;
  }
  bool Skip(std::size_t n) {
    unsigned char scratch[256];
    while (n > 0) {
      const std::size_t take = std::min(n, sizeof scratch);
      if (!Read(scratch, take)) return false;
      n -= take;
    }
    return true;
  }

 private:
  bool Fill() {
    if (position >= file.Size()) return false;
    const std::size_t n = std::min(kChunkBytes, file.Size() - position);
    buffer.resize(kChunkBytes);
    if (!file.ReadAt(position, buffer.data(), n)) return false;
    position += n;
    begin = 0;
    end = n;
    return true;
  }

  const File& file;
  std::size_t position;
  std::vector<unsigned char> buffer;
  std::size_t begin = 0;
  std::size_t end = 0;
};

/// Reads (or skips) one binary element instance; `values` receives each scalar property's value.
bool ReadInstance(Stream& in, const PlyReader::Element& element, bool swap, std::vector<double>* values);
/// The element has list properties (its instances vary in length).
bool HasLists(const PlyReader::Element& element);
/// The bytes of one instance of an element without lists.
std::size_t FixedSize(const PlyReader::Element& element);
/// Fills the cloud (one row of x y z a vertex) from an ASCII body.
bool ReadAscii(const File& file, const PlyReader& header, std::size_t vertexIndex, const std::size_t xyz[3],
               cv::Mat& cloud);

}  // namespace Detect
}  // namespace TamoHandEye
