// SPDX-License-Identifier: Apache-2.0
#include "detect/PlyReader.h"

#include <charconv>

// The PLY header: its lines keyword by keyword, and the sizes of the property types.

namespace TamoHandEye {
namespace Detect {
namespace {

bool ParseType(const std::string& word, PlyReader::Type& type) {
  using Type = PlyReader::Type;
  static const std::pair<const char*, Type> kNames[] = {
      {"char", Type::Int8},     {"int8", Type::Int8},       {"uchar", Type::UInt8},    {"uint8", Type::UInt8},
      {"short", Type::Int16},   {"int16", Type::Int16},     {"ushort", Type::UInt16},  {"uint16", Type::UInt16},
      {"int", Type::Int32},     {"int32", Type::Int32},     {"uint", Type::UInt32},    {"uint32", Type::UInt32},
      {"float", Type::Float32}, {"float32", Type::Float32}, {"double", Type::Float64}, {"float64", Type::Float64}};
  for (const auto& [name, t] : kNames) {
    if (word == name) {
      type = t;
      return true;
    }
  }
  return false;
}

}  // namespace

std::size_t PlyReader::SizeOf(Type type) {
  switch (type) {
    case Type::Int8:
    case Type::UInt8: return 1;
    case Type::Int16:
    case Type::UInt16: return 2;
    case Type::Int32:
    case Type::UInt32:
    case Type::Float32: return 4;
    case Type::Float64: return 8;
  }
  return 0;
}

bool PlyReader::ParseFormatLine(std::istringstream& words, std::string& error) {
  std::string name, version;
  words >> name >> version;
  if (name == "ascii")
    format = Format::Ascii;
  else if (name == "binary_little_endian")
    format = Format::BinaryLittleEndian;
  else if (name == "binary_big_endian")
    format = Format::BinaryBigEndian;
  else {
    error = "unknown format \"" + name + "\"";
    return false;
  }
  return true;
}

bool PlyReader::ParseElementLine(std::istringstream& words, const std::string& line, std::string& error) {
  Element element;
  std::string count;
  if (!(words >> element.name >> count)) {
    error = "incomplete element line: " + line;
    return false;
  }
  const auto [ptr, ec] = std::from_chars(count.data(), count.data() + count.size(), element.count);
  if (ec != std::errc() || ptr != count.data() + count.size()) {
    error = "bad element count: " + line;
    return false;
  }
  elements.push_back(std::move(element));
  return true;
}

bool PlyReader::ParsePropertyLine(std::istringstream& words, const std::string& line, std::string& error) {
  if (elements.empty()) {
    error = "a property before any element: " + line;
    return false;
  }
  Property property;
  std::string first;
  words >> first;
  if (first == "list") {
    std::string countType, itemType;
    property.isList = true;
    if (!(words >> countType >> itemType >> property.name) || !ParseType(countType, property.countType) ||
        !ParseType(itemType, property.type)) {
      error = "bad list property: " + line;
      return false;
    }
  } else if (!ParseType(first, property.type) || !(words >> property.name)) {
    error = "bad property: " + line;
    return false;
  }
  elements.back().properties.push_back(property);
  return true;
}

bool PlyReader::ParseHeader(std::string_view text, std::string& error) {
  elements.clear();
  if (text.substr(0, 4) != "ply\n" && text.substr(0, 5) != "ply\r\n") {
    error = "not a PLY file (the first line is not \"ply\")";
    return false;
  }
  std::size_t pos = text.find('\n') + 1;  // after the "ply" line
  bool sawFormat = false;
  bool carriageReturns = text[3] == '\r';
  for (;;) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) {
      error = "the header has no end_header line";
      return false;
    }
    std::string line(text.substr(pos, end - pos));
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      carriageReturns = true;
    }
    std::istringstream words(line);
    std::string keyword;
    words >> keyword;
    if (keyword.empty() || keyword == "comment" || keyword == "obj_info") continue;
    if (keyword == "end_header") break;
    bool parsed = false;
    if (keyword == "format") {
      parsed = sawFormat = ParseFormatLine(words, error);
    } else if (keyword == "element") {
      parsed = ParseElementLine(words, line, error);
    } else if (keyword == "property") {
      parsed = ParsePropertyLine(words, line, error);
    } else {
      error = "unknown header line: " + line;
    }
    if (!parsed) return false;
  }
  if (!sawFormat) {
    error = "the header has no format line";
    return false;
  }
  if (carriageReturns && format != Format::Ascii) {
    // Line ends rewritten for text (mail, version control) have changed the binary body as well.
    error = "a binary file whose header lines end in CR (was it converted as text?)";
    return false;
  }
  dataOffset = pos;
  return true;
}

}  // namespace Detect
}  // namespace TamoHandEye
