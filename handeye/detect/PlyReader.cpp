// SPDX-License-Identifier: Apache-2.0
#include "detect/PlyReader.h"

#include "detect/PlyBody.h"

#include "api/LibraryLogger.h"
#include "detect/LargeBufferAllocator.h"
#include "detect/ShotFiles.h"

#include <unistd.h>

#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <sstream>

namespace TamoHandEye {
namespace Detect {
namespace {

constexpr std::size_t kMaxHeaderBytes = 1 << 20;

// Where the coordinates are: element "vertex" and its "x", "y", "z" properties, all of one float type.
struct Coordinates {
  std::size_t vertexIndex = 0;
  std::size_t xyz[3] = {0, 0, 0};
  PlyReader::Type type = PlyReader::Type::Float32;
};

// Finds the coordinates; on failure returns the reason, and in `printed` the line for standard error
// when it is not the usual one.
std::string FindCoordinates(const PlyReader& header, Coordinates& where, std::string& printed) {
  const auto vertexIt = std::find_if(header.elements.begin(), header.elements.end(),
                                     [](const PlyReader::Element& e) { return e.name == "vertex"; });
  if (vertexIt == header.elements.end()) {
    printed = "tinyply exception: the element \"vertex\" is missing";
    return "the element \"vertex\" is missing";
  }
  where.vertexIndex = static_cast<std::size_t>(vertexIt - header.elements.begin());
  const PlyReader::Element& vertex = *vertexIt;
  const char* names[3] = {"x", "y", "z"};
  for (int c = 0; c < 3; ++c) {
    const auto it = std::find_if(vertex.properties.begin(), vertex.properties.end(),
                                 [&](const PlyReader::Property& p) { return p.name == names[c]; });
    if (it == vertex.properties.end() || it->isList) {
      const std::string missing = std::string("the vertex property \"") + names[c] + "\" is missing";
      printed = "tinyply exception: " + missing;
      return missing;
    }
    where.xyz[c] = static_cast<std::size_t>(it - vertex.properties.begin());
  }
  where.type = vertex.properties[where.xyz[0]].type;
  if ((where.type != PlyReader::Type::Float32 && where.type != PlyReader::Type::Float64) ||
      vertex.properties[where.xyz[1]].type != where.type || vertex.properties[where.xyz[2]].type != where.type) {
    return "x, y and z are not all 32-bit or all 64-bit floats";
  }
  return {};
}

// Moves `offset` past the binary elements before "vertex", checking each size against the file.
bool SkipElementsBefore(const File& file, const PlyReader& header, std::size_t vertexIndex, bool swap,
                        std::size_t& offset) {
  for (std::size_t e = 0; e < vertexIndex; ++e) {
    const PlyReader::Element& element = header.elements[e];
    if (!HasLists(element)) {
      const std::size_t size = FixedSize(element);
      if (size != 0 && element.count > (file.Size() - offset) / size) return false;
      offset += static_cast<std::size_t>(element.count) * size;
      continue;
    }
    if (element.count > file.Size() - offset) return false;
    // Records of varying length: walk them.
    Stream in(file, offset);
    for (std::uint64_t k = 0; k < element.count; ++k) {
      if (!ReadInstance(in, element, swap, nullptr)) return false;
    }
    offset = in.Position();
  }
  return true;
}

// Binary vertices that carry list properties, walked one by one from `offset`; `end` receives the
// offset after the last one.
bool ReadListVertices(const File& file, const PlyReader::Element& vertex, const Coordinates& where, bool swap,
                      std::size_t offset, cv::Mat& cloud, std::size_t& end) {
  Stream in(file, offset);
  std::vector<double> values(vertex.properties.size());
  auto* out = cloud.ptr<double>();
  for (std::uint64_t k = 0; k < vertex.count; ++k) {
    if (!ReadInstance(in, vertex, swap, &values)) return false;
    *out++ = values[where.xyz[0]];
    *out++ = values[where.xyz[1]];
    *out++ = values[where.xyz[2]];
  }
  end = in.Position();
  return true;
}

// The buffers a read of vertices passes the file's bytes through; kept by a reader that reads often.
struct ReadBuffers {
  std::vector<float> floats;
  std::vector<unsigned char> bytes;
};

// `count` floats from `from` written to `to` as doubles (each exactly), four at a time where the processor can.
void Widen(const float* from, std::size_t count, double* to) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 4 <= count; i += 4) {
    const __m128 four = _mm_loadu_ps(from + i);
    _mm_storeu_pd(to + i, _mm_cvtps_pd(four));
    _mm_storeu_pd(to + i + 2, _mm_cvtps_pd(_mm_movehl_ps(four, four)));
  }
#endif
  for (; i < count; ++i) to[i] = static_cast<double>(from[i]);
}

// Binary vertices of a fixed size, `stride` bytes each, the body starting at `offset`: `count` of them
// from vertex `first` on, written to `out` (three doubles each).
bool ReadFixedVertices(const File& file, const PlyReader::Element& vertex, const Coordinates& where, bool swap,
                       std::size_t offset, std::size_t stride, std::size_t first, std::size_t count, double* out,
                       ReadBuffers& buffers) {
  const std::size_t scalar = PlyReader::SizeOf(where.type);
  std::size_t at[3];
  for (int c = 0; c < 3; ++c) {
    at[c] = 0;
    for (std::size_t p = 0; p < where.xyz[c]; ++p) at[c] += PlyReader::SizeOf(vertex.properties[p].type);
  }
  offset += first * stride;

  // Fast path: nothing but x, y, z in the file's native order, read straight into the cloud.
  if (!swap && stride == 3 * scalar && at[0] == 0 && at[1] == scalar && at[2] == 2 * scalar) {
    if (where.type == PlyReader::Type::Float64) return file.ReadAt(offset, out, count * stride);
    // 32-bit floats are widened chunk by chunk through a buffer that stays in cache, so the cloud's
    // memory is written once and the file's bytes are not read back from main memory.
    const std::size_t perChunk = std::min(kChunkBytes / stride, count);
    std::vector<float>& chunk = buffers.floats;
    if (chunk.size() < 3 * perChunk) chunk.resize(3 * perChunk);
    for (std::size_t done = 0; done < count; done += perChunk) {
      const std::size_t n = std::min(perChunk, count - done);
      if (!file.ReadAt(offset + done * stride, chunk.data(), n * stride)) return false;
      Widen(chunk.data(), 3 * n, out + 3 * done);
    }
    return true;
  }

  // Any other layout: chunks of whole vertices, each decoded at its properties' offsets.
  const std::size_t perChunk = std::min(std::max<std::size_t>(1, kChunkBytes / stride), count);
  std::vector<unsigned char>& chunk = buffers.bytes;
  if (chunk.size() < perChunk * stride) chunk.resize(perChunk * stride);
  for (std::size_t done = 0; done < count; done += perChunk) {
    const std::size_t n = std::min(perChunk, count - done);
    if (!file.ReadAt(offset + done * stride, chunk.data(), n * stride)) return false;
    for (std::size_t k = 0; k < n; ++k) {
      const unsigned char* record = chunk.data() + k * stride;
      *out++ = Decode(record + at[0], where.type, swap);
      *out++ = Decode(record + at[1], where.type, swap);
      *out++ = Decode(record + at[2], where.type, swap);
    }
  }
  return true;
}

// Where a checked binary body of fixed-size vertices lies, for reading it later.
struct FixedBody {
  std::size_t offset = 0;
  std::size_t stride = 0;
  bool swap = false;
};

// Rows of a binary body of fixed-size vertices read on demand, each point once (a row asked for again
// with more columns reads the run of columns covering both).
class FileRows final : public PendingCloudRows {
 public:
  FileRows(std::unique_ptr<File> f, std::string name, PlyReader::Element element, const Coordinates& coordinates,
           const FixedBody& fixed, cv::Mat target)
      : file(std::move(f)),
        path(std::move(name)),
        vertex(std::move(element)),
        where(coordinates),
        body(fixed),
        cloud(std::move(target)),
        held(static_cast<std::size_t>(cloud.rows)) {}

  bool Load(int first, int last, int firstCol, int lastCol) override {
    first = std::max(first, 0);
    last = std::min(last, cloud.rows - 1);
    firstCol = std::max(firstCol, 0);
    lastCol = std::min(lastCol, cloud.cols - 1);
    const bool whole = firstCol == 0 && lastCol == cloud.cols - 1;
    for (int r = first; r <= last && firstCol <= lastCol;) {
      const Columns have = held[static_cast<std::size_t>(r)];
      if (have.first <= firstCol && lastCol <= have.last) {
        ++r;
        continue;
      }
      if (whole) {  // whole rows not yet held, next to each other: one read
        int end = r;
        while (end < last && !Whole(held[static_cast<std::size_t>(end) + 1])) ++end;
        if (!Read(r, end - r + 1, 0, cloud.cols)) return Lost();
        std::fill(held.begin() + r, held.begin() + end + 1, Columns{0, cloud.cols - 1});
        r = end + 1;
        continue;
      }
      const Columns run{std::min(have.first, firstCol), std::max(have.last, lastCol)};
      if (!Read(r, 1, run.first, run.last - run.first + 1)) return Lost();
      held[static_cast<std::size_t>(r)] = run;
      ++r;
    }
    return true;
  }

 private:
  // The columns of a row held, first to last (none while first > last).
  struct Columns {
    int first = std::numeric_limits<int>::max();
    int last = -1;
  };
  bool Whole(const Columns& c) const { return c.first == 0 && c.last == cloud.cols - 1; }

  // `rows` whole rows from `row` on (`col` 0, `count` the width), or `count` columns of row `row` from `col`.
  bool Read(int row, int rows, int col, int count) {
    const auto cols = static_cast<std::size_t>(cloud.cols);
    const std::size_t firstVertex = static_cast<std::size_t>(row) * cols + static_cast<std::size_t>(col);
    const std::size_t vertices = static_cast<std::size_t>(rows - 1) * cols + static_cast<std::size_t>(count);
    return ReadFixedVertices(*file, vertex, where, body.swap, body.offset, body.stride, firstVertex, vertices,
                             cloud.ptr<double>(row) + 3 * col, buffers);
  }

  bool Lost() const {
    std::cerr << "PLY " << path << ": truncated (the file was cut short while it was being read)" << std::endl;
    return false;
  }

  std::unique_ptr<File> file;
  std::string path;
  PlyReader::Element vertex;
  Coordinates where;
  FixedBody body;
  cv::Mat cloud;
  std::vector<Columns> held;
  ReadBuffers buffers;
};

// The reader proper: on refusal returns an empty matrix, with the operator's reason in `why` and the
// line for standard error in `printed`.
// Why the header's counts cannot describe a cloud of rows x cols read from `fileSize` bytes; empty when
// they can.
std::string CountProblem(const PlyReader& header, const PlyReader::Element& vertex, int rows, int cols,
                         std::size_t fileSize) {
  const auto expected = static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(cols);
  if (vertex.count != expected) {
    return std::to_string(vertex.count) + " vertices for an image of " + std::to_string(cols) + " x " +
           std::to_string(rows) + " pixels";
  }
  if (header.dataOffset > fileSize) return "truncated";
  // Every instance takes at least a byte (a line of its own in ASCII): a count beyond the file's bytes
  // cannot be true, and would only make the reader walk for ever.
  for (const PlyReader::Element& element : header.elements) {
    if (element.count > fileSize - header.dataOffset) {
      return "truncated: element \"" + element.name + "\" claims " + std::to_string(element.count) +
             " instances, more than the file holds";
    }
  }
  return {};
}

// Reads a binary body into `cloud` (rows x cols, the vertex count); empty, or why not. With `lazy`
// given, a body of fixed-size vertices is checked, the cloud allocated, and where the body lies written
// to `*lazy` instead of reading it (`lazy->stride` stays 0 when the body was read).
std::string ReadBinaryBody(const File& file, const PlyReader& header, const Coordinates& where, cv::Mat& cloud,
                           int rows, int cols, FixedBody* lazy) {
  const PlyReader::Element& vertex = header.elements[where.vertexIndex];
  const bool swap = (header.format == PlyReader::Format::BinaryLittleEndian) != kNativeLittleEndian;
  std::size_t offset = header.dataOffset;
  if (!SkipElementsBefore(file, header, where.vertexIndex, swap, offset)) return "truncated";
  // When nothing follows the vertices, the file must end where they do.
  const bool vertexIsLast = where.vertexIndex + 1 == header.elements.size();
  if (HasLists(vertex)) {
    if (vertex.count > file.Size() - offset) return "truncated";
    cloud.create(rows, cols, CV_64FC3);
    std::size_t end = 0;
    if (!ReadListVertices(file, vertex, where, swap, offset, cloud, end)) return "truncated";
    return vertexIsLast && end != file.Size() ? Trailing(file.Size() - end) : std::string();
  }
  const std::size_t stride = FixedSize(vertex);
  if (vertex.count > (file.Size() - offset) / stride) return "truncated";
  if (vertexIsLast && offset + vertex.count * stride != file.Size()) {
    return Trailing(file.Size() - offset - vertex.count * stride);
  }
  cloud.create(rows, cols, CV_64FC3);
  if (lazy) {
    *lazy = FixedBody{offset, stride, swap};
    return {};
  }
  ReadBuffers buffers;
  return ReadFixedVertices(file, vertex, where, swap, offset, stride, 0, static_cast<std::size_t>(vertex.count),
                           cloud.ptr<double>(), buffers)
             ? std::string()
             : "truncated";
}

cv::Mat ReadCloud(const std::string& path, int rows, int cols, std::string& why, std::string& printed,
                  std::unique_ptr<PendingCloudRows>* pending) {
  const auto Fail = [&](const std::string& reason, const std::string& line = {}) {
    why = reason;
    printed = line.empty() ? "PLY " + path + ": " + reason : line;
    return cv::Mat();
  };
  auto opened = std::make_unique<File>(path);
  const File& file = *opened;
  if (!file.Open()) {
    return Fail("cannot be opened: " + file.Error(), "file_stream failed to open " + path + " (" + file.Error() + ")");
  }
  if (rows <= 0 || cols <= 0) return Fail("no image size to read the cloud into");

  std::string headerText(std::min(file.Size(), kMaxHeaderBytes), '\0');
  if (!file.ReadAt(0, headerText.data(), headerText.size())) return Fail("cannot read the header");
  PlyReader header;
  std::string error;
  if (!header.ParseHeader(headerText, error)) return Fail(error);
  Coordinates where;
  std::string line;
  error = FindCoordinates(header, where, line);
  if (!error.empty()) return Fail(error, line);
  error = CountProblem(header, header.elements[where.vertexIndex], rows, cols, file.Size());
  if (!error.empty()) return Fail(error);

  // From here on the vertex count equals the pixel count, so the cloud's size is the image's.
  cv::Mat cloud;
  cloud.allocator = LargeBufferAllocator::Instance();
  if (header.format == PlyReader::Format::Ascii) {
    cloud.create(rows, cols, CV_64FC3);
    if (!ReadAscii(file, header, where.vertexIndex, where.xyz, cloud)) return Fail("truncated or malformed data");
    return cloud;
  }
  FixedBody body;
  error = ReadBinaryBody(file, header, where, cloud, rows, cols, pending ? &body : nullptr);
  if (!error.empty()) return Fail(error);
  if (body.stride != 0) {
    *pending =
        std::make_unique<FileRows>(std::move(opened), path, header.elements[where.vertexIndex], where, body, cloud);
  }
  return cloud;
}

// The reader with its line on standard error; `pending` as for OpenOrganizedCloud, or null to read whole.
cv::Mat OpenCloud(const std::string& path, int rows, int cols, std::unique_ptr<PendingCloudRows>* pending,
                  std::string* why) {
  std::string reason, printed;
  cv::Mat cloud = ReadCloud(path, rows, cols, reason, printed, pending);
  if (cloud.empty()) {
    std::cerr << printed << std::endl;
    if (why) *why = reason;
  }
  return cloud;
}

}  // namespace

cv::Mat ReadOrganizedCloud(const std::string& path, int rows, int cols, std::string* why) {
  return OpenCloud(path, rows, cols, nullptr, why);
}

cv::Mat OpenOrganizedCloud(const std::string& path, int rows, int cols, std::unique_ptr<PendingCloudRows>& pending,
                           std::string* why) {
  pending.reset();
  return OpenCloud(path, rows, cols, &pending, why);
}

}  // namespace Detect
}  // namespace TamoHandEye
