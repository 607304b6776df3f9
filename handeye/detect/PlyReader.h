// SPDX-License-Identifier: Apache-2.0
#pragma once

// A focused reader for organised point clouds stored as PLY: the "x", "y", "z" properties of element
// "vertex", one vertex per image pixel in row order.

#include <opencv2/core.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace TamoHandEye {
namespace Detect {

/// A parsed PLY header.
class PlyReader {
 public:
  enum class Format { Ascii, BinaryLittleEndian, BinaryBigEndian };
  enum class Type { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64 };

  struct Property {
    std::string name;
    Type type = Type::Float32;  ///< the value type (the item type of a list)
    bool isList = false;
    Type countType = Type::UInt8;  ///< the type of a list's length
  };
  struct Element {
    std::string name;
    std::uint64_t count = 0;
    std::vector<Property> properties;
  };

  /// Parses the header at the start of `text` (which may hold more than the header). On success fills
  /// the format, the elements and the offset of the first data byte; on failure returns false and says
  /// why in `error`.
  bool ParseHeader(std::string_view text, std::string& error);

  static std::size_t SizeOf(Type type);

  Format format = Format::Ascii;
  std::vector<Element> elements;
  std::size_t dataOffset = 0;  ///< bytes from the start of the file to the first data byte

 private:
  // One header line each, after its keyword: false with `error` set when the line is not valid.
  bool ParseFormatLine(std::istringstream& words, std::string& error);
  bool ParseElementLine(std::istringstream& words, const std::string& line, std::string& error);
  bool ParsePropertyLine(std::istringstream& words, const std::string& line, std::string& error);
};

/// Reads the PLY file at `path` into a rows × cols CV_64FC3 cloud: vertex k becomes element
/// (k / cols, k mod cols) with x, y, z as its channels; NaN points are kept. "x", "y" and "z" may stand
/// anywhere among the vertex properties and must all be 32-bit or all 64-bit floats (32-bit values are
/// widened exactly). Formats: ascii, binary_little_endian, binary_big_endian; elements before "vertex"
/// are skipped.
///
/// Returns an empty matrix, with a line on standard error (and the reason in `why` when given), when the
/// file is not a regular file or cannot be opened, is not PLY, lacks the vertex coordinates, has another
/// vertex count than rows × cols, is truncated, or is binary with a header that does not describe its
/// bytes (header lines ending in CR, bytes after the last vertex when nothing follows it). Every count
/// is checked against the file's length before anything is allocated or walked. Never throws.
cv::Mat ReadOrganizedCloud(const std::string& path, int rows, int cols, std::string* why = nullptr);

/// The rows of a cloud that OpenOrganizedCloud left in its file, read when first asked for.
class PendingCloudRows {
 public:
  virtual ~PendingCloudRows() = default;
  /// Reads columns `firstCol` to `lastCol` of rows `first` to `last` (both clamped to the cloud) into the
  /// cloud, the points not read before; false, with a line on standard error, when the file no longer
  /// holds them (it was cut short since it was opened).
  virtual bool Load(int first, int last, int firstCol, int lastCol) = 0;
  /// Whole rows `first` to `last`.
  bool Load(int first, int last) { return Load(first, last, 0, std::numeric_limits<int>::max()); }
};

/// ReadOrganizedCloud, with the same checks and the same refusals, for a reader that needs a few rows:
/// a binary body of fixed-size vertices is checked against the header and the file's length but not
/// read. The cloud is allocated and `pending` receives what reads its rows on demand (it keeps the file
/// open); no row holds its points before it is loaded. Other bodies (ASCII, vertices with list
/// properties) are read whole and `pending` is left empty.
cv::Mat OpenOrganizedCloud(const std::string& path, int rows, int cols, std::unique_ptr<PendingCloudRows>& pending,
                           std::string* why = nullptr);

}  // namespace Detect
}  // namespace TamoHandEye
