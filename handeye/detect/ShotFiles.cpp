// SPDX-License-Identifier: Apache-2.0
#include "detect/ShotFiles.h"

#include "api/LibraryLogger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace TamoHandEye {
namespace Detect {
namespace {

// A bounded view of the header bytes; every read is checked against the end.
class Bytes {
 public:
  Bytes(const unsigned char* bytes, std::size_t count) : data(bytes), size(count) {}

  bool Has(std::size_t at, std::size_t n) const { return at <= size && n <= size - at; }
  bool Starts(const char* magic, std::size_t n) const { return Has(0, n) && std::memcmp(data, magic, n) == 0; }
  std::uint32_t U8(std::size_t at) const { return data[at]; }
  std::uint32_t Be16(std::size_t at) const { return (U8(at) << 8) | U8(at + 1); }
  std::uint32_t Le16(std::size_t at) const { return U8(at) | (U8(at + 1) << 8); }
  std::uint32_t Be32(std::size_t at) const { return (Be16(at) << 16) | Be16(at + 2); }
  std::uint32_t Le32(std::size_t at) const { return Le16(at) | (Le16(at + 2) << 16); }

  const unsigned char* data;
  std::size_t size;
};

std::optional<cv::Size> Size(std::uint64_t width, std::uint64_t height) {
  constexpr std::uint64_t kMax = 1u << 30;  // beyond any camera, and beyond what an int holds
  if (width == 0 || height == 0 || width > kMax || height > kMax) return std::nullopt;
  return cv::Size(static_cast<int>(width), static_cast<int>(height));
}

// Signature, then the IHDR chunk: its length, "IHDR", width and height (big-endian).
std::optional<cv::Size> PngSize(const Bytes& b) {
  if (!b.Has(0, 24) || std::memcmp(b.data + 12, "IHDR", 4) != 0) return std::nullopt;
  return Size(b.Be32(16), b.Be32(20));
}

bool IsStartOfFrame(std::uint32_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Walks the marker segments up to the first start-of-frame: length, precision, height, width.
std::optional<cv::Size> JpegSize(const Bytes& b) {
  std::size_t at = 2;
  while (b.Has(at, 2)) {
    if (b.U8(at) != 0xFF) return std::nullopt;
    while (b.Has(at + 1, 1) && b.U8(at + 1) == 0xFF) ++at;  // fill bytes
    if (!b.Has(at + 1, 1)) return std::nullopt;
    const std::uint32_t marker = b.U8(at + 1);
    at += 2;
    if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (marker == 0xD9 || marker == 0xDA || !b.Has(at, 2)) return std::nullopt;            // image data before a frame
    const std::uint32_t length = b.Be16(at);
    if (length < 2) return std::nullopt;
    if (IsStartOfFrame(marker)) {
      if (!b.Has(at, 7)) return std::nullopt;
      return Size(b.Be16(at + 5), b.Be16(at + 3));  // height 0 (set later by a DNL segment): no size
    }
    at += length;
  }
  return std::nullopt;
}

// File header (14 bytes), then the info header: its size, then width and height (negative: top-down).
std::optional<cv::Size> BmpSize(const Bytes& b) {
  if (!b.Has(0, 18)) return std::nullopt;
  const std::uint32_t infoSize = b.Le32(14);
  if (infoSize == 12) {
    if (!b.Has(18, 4)) return std::nullopt;
    return Size(b.Le16(18), b.Le16(20));
  }
  if (infoSize < 40 || !b.Has(18, 8)) return std::nullopt;
  const auto width = static_cast<std::int32_t>(b.Le32(18));
  const auto height = static_cast<std::int32_t>(b.Le32(22));
  if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
  return Size(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height < 0 ? -height : height));
}

// The first image file directory's ImageWidth (256) and ImageLength (257) entries.
std::optional<cv::Size> TiffSize(const Bytes& b) {
  const bool little = b.Starts("II*\0", 4);
  const auto u16 = [&](std::size_t at) { return little ? b.Le16(at) : b.Be16(at); };
  const auto u32 = [&](std::size_t at) { return little ? b.Le32(at) : b.Be32(at); };
  if (!b.Has(4, 4)) return std::nullopt;
  const std::size_t directory = u32(4);
  if (!b.Has(directory, 2)) return std::nullopt;
  const std::size_t entries = u16(directory);
  std::uint64_t width = 0, height = 0;
  for (std::size_t k = 0; k < entries; ++k) {
    const std::size_t entry = directory + 2 + 12 * k;
    if (!b.Has(entry, 12)) return std::nullopt;
    const std::uint32_t tag = u16(entry), type = u16(entry + 2);
    if (tag != 256 && tag != 257) continue;
    std::uint64_t value = 0;
    if (type == 3)
      value = u16(entry + 8);
    else if (type == 4)
      value = u32(entry + 8);
    else
      return std::nullopt;
    (tag == 256 ? width : height) = value;
    if (width != 0 && height != 0) return Size(width, height);
  }
  return std::nullopt;
}

// "P1" … "P6", then width and height as decimal text, with comments from '#' to the line end.
std::optional<cv::Size> PnmSize(const Bytes& b) {
  std::size_t at = 2;
  std::uint64_t numbers[2] = {0, 0};
  for (std::uint64_t& number : numbers) {
    while (b.Has(at, 1)) {
      const unsigned char c = b.data[at];
      if (c == '#') {
        while (b.Has(at, 1) && b.data[at] != '\n' && b.data[at] != '\r') ++at;
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
        ++at;
      } else {
        break;
      }
    }
    std::size_t digits = 0;
    while (b.Has(at, 1) && b.data[at] >= '0' && b.data[at] <= '9' && digits < 10) {
      number = number * 10 + (b.data[at] - '0');
      ++at;
      ++digits;
    }
    // The number must be complete: followed by whitespace or a comment, inside what was read.
    if (digits == 0 || !b.Has(at, 1) || (b.data[at] >= '0' && b.data[at] <= '9')) return std::nullopt;
  }
  return Size(numbers[0], numbers[1]);
}

}  // namespace

int OpenRegularFile(const std::string& path, std::size_t& size, std::string& error) {
  // Non-blocking, so that opening a FIFO does not wait for a writer; regular files ignore the flag.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? "a folder, not a file" : "not a regular file";
    ::close(fd);
    return -1;
  }
  size = static_cast<std::size_t>(st.st_size);
  return fd;
}

bool ReadRegularFile(const std::string& path, std::vector<unsigned char>& bytes, std::string& error) {
  std::size_t size = 0;
  const int fd = OpenRegularFile(path, size, error);
  if (fd < 0) return false;
  bytes.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      error = got < 0 ? std::strerror(errno) : "the file shrank while it was read";
      ::close(fd);
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return true;
}

std::optional<cv::Size> ImageHeaderSize(const unsigned char* data, std::size_t size) {
  const Bytes b(data, size);
  if (b.Starts("\x89PNG\r\n\x1a\n", 8)) return PngSize(b);
  if (b.Starts("\xFF\xD8", 2)) return JpegSize(b);
  if (b.Starts("BM", 2)) return BmpSize(b);
  if (b.Starts("II*\0", 4) || b.Starts("MM\0*", 4)) return TiffSize(b);
  if (b.Has(0, 2) && b.data[0] == 'P' && b.data[1] >= '1' && b.data[1] <= '6') return PnmSize(b);
  return std::nullopt;
}

}  // namespace Detect
}  // namespace TamoHandEye
