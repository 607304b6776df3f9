// SPDX-License-Identifier: Apache-2.0
#pragma once

// Numbers and texts as the data files and reports write them.

#include <string>
#include <vector>

namespace TarnWorkflow {

/// A decimal number filling `text` (blanks around it allowed): "3", "-0.5", "1e3", not "0x1F" or "3a".
/// Infinities and NaN parse (callers that need a finite value check it).
bool ParseDecimal(const std::string& text, double& value);
/// A number as the desktop program shows it: up to 6 significant digits ("%g").
std::string FormatNumber(double value);
/// Fixed-point with `digits` decimals.
std::string Fixed(double value, int digits = 4);
/// Lines cut at spaces to at most `width` characters each (a word longer than that is cut where it must be).
std::vector<std::string> WrapLines(const std::vector<std::string>& lines, std::size_t width);
/// A file name as JSON needs it: UTF-8. Names in the locale's own encoding are converted; bytes that are not
/// text in any known encoding (say GBK names on a UTF-8 system) are replaced by U+FFFD.
std::string Utf8Name(const std::string& bytes);
/// UTF-8 text in GBK (GB2312's superset), the encoding of the parameter and result file; characters that
/// it cannot hold become "?".
std::string Utf8ToGbk(const std::string& utf8);
/// GBK text in UTF-8; bytes that are not GBK become U+FFFD.
std::string GbkToUtf8(const std::string& gbk);

}  // namespace TarnWorkflow
