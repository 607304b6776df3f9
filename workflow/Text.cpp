// SPDX-License-Identifier: Apache-2.0
#include "Text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <sstream>

namespace TarnWorkflow {
namespace {

// The length of the UTF-8 sequence at `at`, or 0 when the bytes there are not one.
std::size_t Utf8Sequence(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned min = 0;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2, min = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3, min = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4, min = 0x10000;
  else
    return 0;
  if (at + length > text.size()) return 0;
  unsigned code = lead & (0x7Fu >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + k) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsUtf8(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = Utf8Sequence(text, at);
    if (n == 0) return false;
    at += n;
  }
  return true;
}

// Valid sequences kept, every other byte replaced by U+FFFD.
std::string RepairedUtf8(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = Utf8Sequence(text, at);
    out += n == 0 ? std::string("\xEF\xBF\xBD") : text.substr(at, n);
    at += n == 0 ? 1 : n;
  }
  return out;
}

// Converts `text` from one encoding to another; an input sequence the conversion refuses is replaced by
// `replacement` and skipped (one byte), so the rest still comes through.
std::string Convert(const std::string& text, const char* to, const char* from, const std::string& replacement) {
  const iconv_t convert = ::iconv_open(to, from);
  if (convert == reinterpret_cast<iconv_t>(-1)) return text;
  std::string in = text, out;
  char* source = in.data();
  std::size_t left = in.size();
  std::string buffer(4 * in.size() + 16, '\0');
  while (left > 0) {
    char* target = buffer.data();
    std::size_t room = buffer.size();
    const std::size_t done = ::iconv(convert, &source, &left, &target, &room);
    out.append(buffer.data(), buffer.size() - room);
    if (done == static_cast<std::size_t>(-1) && left > 0) {
      out += replacement;
      // Skip the whole character of a UTF-8 input, one byte otherwise.
      const std::size_t skip =
          std::string(from) == "UTF-8"
              ? std::max<std::size_t>(1, Utf8Sequence(in, static_cast<std::size_t>(source - in.data())))
              : 1;
      source += std::min(skip, left);
      left -= std::min(skip, left);
    }
  }
  ::iconv_close(convert);
  return out;
}

}  // namespace

bool ParseDecimal(const std::string& text, double& value) {
  if (text.find_first_of("xXpP") != std::string::npos) return false;
  const char* begin = text.c_str();
  char* end = nullptr;
  value = std::strtod(begin, &end);
  if (end == begin) return false;
  while (*end != '\0' && std::isspace(static_cast<unsigned char>(*end))) ++end;
  return *end == '\0';
}

std::string FormatNumber(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Fixed(double value, int digits) {
  std::ostringstream s;
  s << std::fixed << std::setprecision(digits) << value;
  return s.str();
}

std::string Utf8Name(const std::string& bytes) {
  if (IsUtf8(bytes)) return bytes;
  const std::string codeset = ::nl_langinfo(CODESET);
  if (codeset != "UTF-8" && codeset != "ANSI_X3.4-1968") {
    const std::string converted = Convert(bytes, "UTF-8", codeset.c_str(), "\xEF\xBF\xBD");
    if (IsUtf8(converted)) return converted;
  }
  return RepairedUtf8(bytes);
}

std::string Utf8ToGbk(const std::string& utf8) { return Convert(RepairedUtf8(utf8), "GBK", "UTF-8", "?"); }

std::string GbkToUtf8(const std::string& gbk) { return Convert(gbk, "UTF-8", "GBK", "\xEF\xBF\xBD"); }

std::vector<std::string> WrapLines(const std::vector<std::string>& lines, std::size_t width) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    std::string rest = line;
    while (rest.size() > width) {
      const std::size_t space = rest.rfind(' ', width);
      const bool atSpace = space != std::string::npos && space > 0;
      out.push_back(rest.substr(0, atSpace ? space : width));
      rest = rest.substr(atSpace ? space + 1 : width);
    }
    out.push_back(rest);
  }
  return out;
}

}  // namespace TarnWorkflow
