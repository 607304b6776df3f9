// SPDX-License-Identifier: Apache-2.0
#pragma once

// The concentric-circle marker as a sheet to print: a black ring from R to 0.7R, a white ring to 0.45R, a
// black ring to 0.2R and a white centre, on a white board of 6R x 4R (outlined in grey, to cut along; with
// R = 40 mm the sheet fits A4 landscape),
// with a 100 mm scale bar (50 mm on small sheets) and the marker's printed size, so that the operator can
// measure that the printer did not scale it. As PDF and SVG (vector, true size) or PNG (at a given
// resolution, which the file records).

#include <opencv2/core.hpp>

#include <string>

namespace TarnWorkflow {

struct MarkerSheet {
  double radiusMm = 40.0;  ///< R, the outer radius
  int dpi = 600;           ///< PNG only
};

/// The sheet's layout, millimetres from its top-left corner.
struct MarkerLayout {
  double pageWidth, pageHeight;
  double boardLeft, boardTop, boardWidth, boardHeight;
  double centreX, centreY;
  double barLeft, barTop, barLength;
  std::string caption;  ///< "Tarn concentric-circle marker: R = 40 mm (outer diameter 80 mm)"
  std::string check;    ///< "Scale bar 100 mm: measure it; the print must not be scaled"
};
MarkerLayout LayoutOf(const MarkerSheet& sheet);

std::string MarkerSvg(const MarkerSheet& sheet);
std::string MarkerPdf(const MarkerSheet& sheet);
/// The most pixels a PNG sheet may have (160 million: R = 40 mm up to some 1,300 dpi); larger sheets
/// are for PDF or SVG, which are true to size at any resolution.
constexpr double kMaxMarkerPixels = 160e6;
/// The sheet's size in pixels at sheet.dpi.
cv::Size MarkerImageSize(const MarkerSheet& sheet);
/// The sheet at sheet.dpi, 8-bit grey.
cv::Mat MarkerImage(const MarkerSheet& sheet);
/// The PNG file's bytes, its resolution recorded (pHYs), or empty when encoding failed.
std::string MarkerPng(const MarkerSheet& sheet);

/// Writes the sheet to `path` as .pdf, .svg or .png (by its extension), through a temporary file renamed
/// into place; false with `error` set when the extension is none of those, a PNG would have more than
/// kMaxMarkerPixels, or the file cannot be written.
bool WriteMarkerSheet(const std::string& path, const MarkerSheet& sheet, std::string& error);

}  // namespace TarnWorkflow
