// SPDX-License-Identifier: Apache-2.0
#include "detect/PlyBody.h"

#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace TamoHandEye {
namespace Detect {
namespace {

// Whitespace-separated tokens of an ASCII body.
class Tokens {
 public:
  explicit Tokens(std::string_view body) : text(body) {}

  bool Next(std::string_view& token) {
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos >= text.size()) return false;
    const std::size_t start = pos;
    while (pos < text.size() && !std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    token = text.substr(start, pos - start);
    return true;
  }
  bool NextNumber(double& value) {
    std::string_view token;
    if (!Next(token)) return false;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec == std::errc() && end == token.data() + token.size()) return true;
    // from_chars rejects a leading '+'; strtod also reads "nan", "inf" in any case.
    const std::string copy(token);
    char* stop = nullptr;
    value = std::strtod(copy.c_str(), &stop);
    return stop == copy.c_str() + copy.size() && !copy.empty();
  }

 private:
  std::string_view text;
  std::size_t pos = 0;
};

bool ReadAsciiInstance(Tokens& in, const PlyReader::Element& element, std::vector<double>* values) {
  double v = 0.0;
  for (std::size_t p = 0; p < element.properties.size(); ++p) {
    const PlyReader::Property& prop = element.properties[p];
    if (!in.NextNumber(v)) return false;
    if (prop.isList) {
      if (!(v >= 0.0) || v > 1e9) return false;
      for (std::size_t k = 0; k < static_cast<std::size_t>(v); ++k) {
        double item = 0.0;
        if (!in.NextNumber(item)) return false;
      }
    } else if (values) {
      (*values)[p] = v;
    }
  }
  return true;
}

}  // namespace

// A binary body longer than its header declares: the header does not describe these bytes.
std::string Trailing(std::size_t extra) {
  return std::to_string(extra) +
         " bytes after the last vertex; the header does not describe this file (was it converted as text?)";
}

// One scalar of `type` at `p`, in the file's byte order, as a double.
double Decode(const unsigned char* p, PlyReader::Type type, bool swap) {
  unsigned char bytes[8];
  const std::size_t size = PlyReader::SizeOf(type);
  if (swap) {
    for (std::size_t i = 0; i < size; ++i) bytes[i] = p[size - 1 - i];
  } else {
    std::memcpy(bytes, p, size);
  }
  switch (type) {
    case PlyReader::Type::Int8: {
      std::int8_t v;
      std::memcpy(&v, bytes, 1);
      return v;
    }
    case PlyReader::Type::UInt8: {
      std::uint8_t v;
      std::memcpy(&v, bytes, 1);
      return v;
    }
    case PlyReader::Type::Int16: {
      std::int16_t v;
      std::memcpy(&v, bytes, 2);
      return v;
    }
    case PlyReader::Type::UInt16: {
      std::uint16_t v;
      std::memcpy(&v, bytes, 2);
      return v;
    }
    case PlyReader::Type::Int32: {
      std::int32_t v;
      std::memcpy(&v, bytes, 4);
      return v;
    }
    case PlyReader::Type::UInt32: {
      std::uint32_t v;
      std::memcpy(&v, bytes, 4);
      return v;
    }
    case PlyReader::Type::Float32: {
      float v;
      std::memcpy(&v, bytes, 4);
      return static_cast<double>(v);
    }
    case PlyReader::Type::Float64: {
      double v;
      std::memcpy(&v, bytes, 8);
      return v;
    }
  }
  return 0.0;
}

// Reads (or skips) one binary element instance; `values` receives each scalar property's value.
bool ReadInstance(Stream& in, const PlyReader::Element& element, bool swap, std::vector<double>* values) {
  unsigned char bytes[8];
  for (std::size_t p = 0; p < element.properties.size(); ++p) {
    const PlyReader::Property& prop = element.properties[p];
    if (prop.isList) {
      if (!in.Read(bytes, PlyReader::SizeOf(prop.countType))) return false;
      const double length = Decode(bytes, prop.countType, swap);
      if (!(length >= 0.0) || length > 1e9) return false;
      if (!in.Skip(static_cast<std::size_t>(length) * PlyReader::SizeOf(prop.type))) return false;
    } else {
      if (!in.Read(bytes, PlyReader::SizeOf(prop.type))) return false;
      if (values) (*values)[p] = Decode(bytes, prop.type, swap);
    }
  }
  return true;
}

bool HasLists(const PlyReader::Element& element) {
  return std::any_of(element.properties.begin(), element.properties.end(),
                     [](const PlyReader::Property& p) { return p.isList; });
}

std::size_t FixedSize(const PlyReader::Element& element) {
  std::size_t size = 0;
  for (const auto& p : element.properties) size += PlyReader::SizeOf(p.type);
  return size;
}

// Fills the cloud from an ASCII body.
bool ReadAscii(const File& file, const PlyReader& header, std::size_t vertexIndex, const std::size_t xyz[3],
               cv::Mat& cloud) {
  const std::size_t length = file.Size() - header.dataOffset;
  // Every scalar needs at least one character and one separator: a count beyond that cannot be true.
  const auto& vertex = header.elements[vertexIndex];
  if (vertex.count > length / (2 * vertex.properties.size()) + 1) return false;
  std::string body(length, '\0');
  if (!file.ReadAt(header.dataOffset, body.data(), length)) return false;
  Tokens tokens(body);
  for (std::size_t e = 0; e < vertexIndex; ++e) {
    if (header.elements[e].properties.empty()) continue;  // nothing to read, whatever the count
    for (std::uint64_t k = 0; k < header.elements[e].count; ++k) {
      if (!ReadAsciiInstance(tokens, header.elements[e], nullptr)) return false;
    }
  }
  std::vector<double> values(vertex.properties.size());
  auto* out = cloud.ptr<double>();
  for (std::uint64_t k = 0; k < vertex.count; ++k) {
    if (!ReadAsciiInstance(tokens, vertex, &values)) return false;
    *out++ = values[xyz[0]];
    *out++ = values[xyz[1]];
    *out++ = values[xyz[2]];
  }
  return true;
}

}  // namespace Detect
}  // namespace TamoHandEye
