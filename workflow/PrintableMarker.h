// SPDX-License-Identifier: Apache-2.0
#pragma once

// The concentric-circle marker as a sheet to print: a black ring from R to 0.7R, a white ring to 0.45R, a
// black ring to 0.2R and a white centre, on a white board of 6R x 4R (outlined in grey, to cut along; with
// R = 40 mm the sheet fits A4 landscape),
// with a 100 mm scale bar (50 mm on small sheets) and the marker's printed size, so that the operator can
// measure that the printer did not scale it. As PDF and SVG (vector, true size) or PNG (at a given
// resolution, which the file records). A PDF may lay the sheet out on standard paper: on one page when it
// fits, else on several that overlap, each with crop marks, a line to join the next page to and its place
// in the whole.

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace TarnWorkflow {

/// The paper a PDF sheet is printed on: a page of the sheet's own size, or standard paper.
enum class Paper { Sheet, A4, A3, Letter };
/// The sheet's texts: Chinese or English (a PNG's are English: its font has no Chinese).
enum class SheetLanguage { Zh, En };

struct MarkerSheet {
  double radiusMm = 40.0;                      ///< R, the outer radius
  int dpi = 600;                               ///< PNG only
  Paper paper = Paper::Sheet;                  ///< PDF only
  SheetLanguage language = SheetLanguage::En;  ///< PDF and SVG
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

/// One page of a PDF sheet, millimetres from the page's top-left corner. The sheet's point (x, y) lies at
/// (x + offsetX, y + offsetY); the page shows the sheet inside the shown rectangle only.
struct MarkerPage {
  double width, height;  ///< the paper as it lies (portrait or landscape)
  double offsetX, offsetY;
  double shownLeft, shownTop, shownWidth, shownHeight;
  int row, column;  ///< from 0, of rows x columns pages
  int rows, columns;
  /// Where this page is cut before it is laid on its neighbours (its shown rectangle's left and top
  /// edges, when it has a neighbour there) and where the next page's cut edge is laid (right, bottom).
  bool cutLeft, cutTop, joinRight, joinBottom;
  double joinX, joinY;  ///< page mm of the join lines
  std::string label;    ///< the page's place and what to do with it; empty on a single page
};
/// The pages of a PDF sheet: one page of the sheet's size (Paper::Sheet), one page of the paper when the
/// sheet fits within its margins either way round, else the fewest overlapping pages of it, row by row.
std::vector<MarkerPage> PagesOf(const MarkerSheet& sheet);

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
