// SPDX-License-Identifier: Apache-2.0
#include "PrintableMarker.h"

#include "DataFiles.h"
#include "ImageCodecs.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <vector>

namespace TarnWorkflow {
namespace {

constexpr std::array<double, 4> kRadii = {1.0, 0.7, 0.45, 0.2};  // outer to inner, as fractions of R
constexpr double kMargin = 10.0;                                 // mm around the board and the text
constexpr double kPointsPerMm = 72.0 / 25.4;
constexpr double kPaperMargin = 12.0;  // mm of paper left blank at every edge (what printers cannot reach)
constexpr double kOverlap = 10.0;      // mm of the sheet two neighbouring pages both show
constexpr double kLabelBand = 8.0;     // mm below a tiled page's picture for its label
constexpr double kMarkLength = 5.0;    // mm of a crop mark, 1 mm off the picture's edge

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

std::string MmText(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// The four cubic Bézier segments of a circle, as PDF path operators (points, y up).
std::string PdfCircle(double cx, double cy, double r) {
  const double k = 0.5522847498307936 * r;
  std::ostringstream p;
  p << Number(cx + r) << " " << Number(cy) << " m\n";
  p << Number(cx + r) << " " << Number(cy + k) << " " << Number(cx + k) << " " << Number(cy + r) << " " << Number(cx)
    << " " << Number(cy + r) << " c\n";
  p << Number(cx - k) << " " << Number(cy + r) << " " << Number(cx - r) << " " << Number(cy + k) << " "
    << Number(cx - r) << " " << Number(cy) << " c\n";
  p << Number(cx - r) << " " << Number(cy - k) << " " << Number(cx - k) << " " << Number(cy - r) << " " << Number(cx)
    << " " << Number(cy - r) << " c\n";
  p << Number(cx + k) << " " << Number(cy - r) << " " << Number(cx + r) << " " << Number(cy - k) << " "
    << Number(cx + r) << " " << Number(cy) << " c\n";
  return p.str();
}

std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xffffffffu;
  for (const char c : bytes) {
    crc ^= static_cast<unsigned char>(c);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string BigEndian(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

// A PDF string of `text`: a literal one for Helvetica (ASCII), UTF-16 code units in hexadecimal for the
// Chinese font (its encoding, UniGB-UCS2-H, takes the characters' Unicode values).
std::string PdfText(const std::string& text, bool chinese) {
  if (!chinese) {
    std::string out = "(";
    for (const char c : text) {
      if (c == '(' || c == ')' || c == '\\') out += '\\';
      out += c;
    }
    return out + ")";
  }
  std::string out = "<";
  char hex[8];
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    unsigned code = c;
    std::size_t length = 1;
    if (c >= 0xE0 && i + 2 < text.size()) {
      code = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
             (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
      length = 3;
    } else if (c >= 0xC0 && i + 1 < text.size()) {
      code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
      length = 2;
    }
    std::snprintf(hex, sizeof hex, "%04X", code & 0xFFFFu);
    out += hex;
    i += length;
  }
  return out + ">";
}

struct PaperSize {
  double width, height;  // portrait, mm
};

PaperSize SizeOf(Paper paper) {
  switch (paper) {
    case Paper::A3: return {297.0, 420.0};
    case Paper::Letter: return {215.9, 279.4};
    default: return {210.0, 297.0};
  }
}

// Pages of `printable` mm that cover `extent` mm, neighbours sharing kOverlap mm.
int PagesAcross(double extent, double printable) {
  if (extent <= printable) return 1;
  return static_cast<int>(std::ceil((extent - kOverlap) / (printable - kOverlap) - 1e-9));
}

std::string PageLabel(const MarkerPage& page, SheetLanguage language) {
  const std::string r = std::to_string(page.row + 1);
  const std::string c = std::to_string(page.column + 1);
  const std::string rows = std::to_string(page.rows);
  const std::string columns = std::to_string(page.columns);
  if (language == SheetLanguage::Zh) {
    const std::string place = "第 " + r + " 行第 " + c + " 列，共 " + rows + " 行 " + columns + " 列：";
    if (!page.cutLeft && !page.cutTop) return place + "整页保留，其他页的剪边对齐到它的虚线上";
    const std::string edges = page.cutLeft && page.cutTop ? "左边和上边" : (page.cutLeft ? "左边" : "上边");
    return place + "沿裁切标记剪去" + edges + "，剪边对齐相邻页的虚线后粘贴";
  }
  const std::string place = "Row " + r + ", column " + c + " of " + rows + " x " + columns + ": ";
  if (!page.cutLeft && !page.cutTop) return place + "keep whole; lay the other pages' cut edges on its dashed lines";
  const std::string edges =
      page.cutLeft && page.cutTop ? "left and top edges" : (page.cutLeft ? "left edge" : "top edge");
  return place + "cut off the " + edges + " at the crop marks, lay the cut on the dashed line, glue";
}

// The sheet drawn in PDF operators on a page of its own size (points, y up from the sheet's bottom).
std::string SheetContent(const MarkerSheet& sheet, const MarkerLayout& l, const std::string& font) {
  const double h = l.pageHeight;
  const auto x = [](double mm) { return mm * kPointsPerMm; };
  const auto y = [h](double mm) { return (h - mm) * kPointsPerMm; };
  const bool chinese = sheet.language == SheetLanguage::Zh;
  std::ostringstream c;
  c << "0.6 G 0.57 w " << Number(x(l.boardLeft)) << " " << Number(y(l.boardTop + l.boardHeight)) << " "
    << Number(x(l.boardWidth)) << " " << Number(x(l.boardHeight)) << " re S\n";
  for (std::size_t i = 0; i < kRadii.size(); ++i) {
    c << (i % 2 == 0 ? "0 g\n" : "1 g\n") << PdfCircle(x(l.centreX), y(l.centreY), x(kRadii[i] * sheet.radiusMm))
      << "f\n";
  }
  c << "0 g " << Number(x(l.barLeft)) << " " << Number(y(l.barTop + 2)) << " " << Number(x(l.barLength)) << " "
    << Number(x(2)) << " re f\n";
  for (int mm = 0; mm <= static_cast<int>(l.barLength); mm += 10) {
    c << Number(x(l.barLeft + mm - 0.15)) << " " << Number(y(l.barTop)) << " " << Number(x(0.3)) << " " << Number(x(2))
      << " re f\n";
  }
  c << "BT /" << font << " 11 Tf " << Number(x(l.barLeft)) << " " << Number(y(l.barTop + 9)) << " Td "
    << PdfText(l.caption, chinese) << " Tj ET\n";
  c << "BT /" << font << " 11 Tf " << Number(x(l.barLeft)) << " " << Number(y(l.barTop + 15)) << " Td "
    << PdfText(l.check, chinese) << " Tj ET\n";
  return c.str();
}

// A page's own marks, on top of the sheet: crop marks at its cut edges, dashed join lines where the next
// pages' cut edges go (marked in the margins too), and its label.
std::string PageMarks(const MarkerPage& page, bool chinese, const std::string& font) {
  const double h = page.height;
  const auto x = [](double mm) { return mm * kPointsPerMm; };
  const auto y = [h](double mm) { return (h - mm) * kPointsPerMm; };
  const double left = page.shownLeft;
  const double top = page.shownTop;
  const double right = left + page.shownWidth;
  const double bottom = top + page.shownHeight;
  std::ostringstream c;
  const auto line = [&](double x0, double y0, double x1, double y1) {
    c << Number(x(x0)) << " " << Number(y(y0)) << " m " << Number(x(x1)) << " " << Number(y(y1)) << " l S\n";
  };
  // A vertical mark at page x above and below the picture; a horizontal one at page y left and right of it.
  const auto marksAtX = [&](double at) {
    line(at, top - 1.0 - kMarkLength, at, top - 1.0);
    line(at, bottom + 1.0, at, bottom + 1.0 + kMarkLength);
  };
  const auto marksAtY = [&](double at) {
    line(left - 1.0 - kMarkLength, at, left - 1.0, at);
    line(right + 1.0, at, right + 1.0 + kMarkLength, at);
  };
  c << "0 G 0.28 w [] 0 d\n";
  if (page.cutLeft) marksAtX(left);
  if (page.cutTop) marksAtY(top);
  if (page.joinRight) marksAtX(page.joinX);
  if (page.joinBottom) marksAtY(page.joinY);
  c << "0.5 G 0.57 w [2.8 2.8] 0 d\n";
  if (page.joinRight) line(page.joinX, top, page.joinX, bottom);
  if (page.joinBottom) line(left, page.joinY, right, page.joinY);
  c << "[] 0 d\n";
  if (!page.label.empty()) {
    c << "0 g BT /" << font << " 8 Tf " << Number(x(left + kMarkLength + 3.0)) << " " << Number(y(bottom + 5.5))
      << " Td " << PdfText(page.label, chinese) << " Tj ET\n";
  }
  return c.str();
}

}  // namespace

MarkerLayout LayoutOf(const MarkerSheet& sheet) {
  const double r = sheet.radiusMm;
  MarkerLayout l{};
  l.boardLeft = kMargin;
  l.boardTop = kMargin;
  l.boardWidth = 6.0 * r;
  l.boardHeight = 4.0 * r;
  l.centreX = l.boardLeft + l.boardWidth / 2.0;
  l.centreY = l.boardTop + l.boardHeight / 2.0;
  l.barLength = l.boardWidth >= 110.0 ? 100.0 : 50.0;
  l.barLeft = kMargin;
  l.barTop = l.boardTop + l.boardHeight + 6.0;
  l.pageWidth = std::max(l.boardWidth, l.barLength + 10.0) + 2.0 * kMargin;
  l.pageHeight = l.barTop + 17.0 + kMargin;
  if (sheet.language == SheetLanguage::Zh) {
    l.caption = "Tarn 同心圆标记：R = " + MmText(r) + " mm（外径 " + MmText(2.0 * r) + " mm）";
    l.check = "比例尺 " + MmText(l.barLength) + " mm：打印后请量一下；按 100% 打印，不要缩放到页面大小";
  } else {
    l.caption = "Tarn concentric-circle marker: R = " + MmText(r) + " mm (outer diameter " + MmText(2.0 * r) + " mm)";
    l.check = "Scale bar " + MmText(l.barLength) + " mm: measure it; print at 100 %, never fitted to the page";
  }
  return l;
}

std::vector<MarkerPage> PagesOf(const MarkerSheet& sheet) {
  const MarkerLayout l = LayoutOf(sheet);
  MarkerPage one{};
  one.rows = one.columns = 1;
  one.shownWidth = l.pageWidth;
  one.shownHeight = l.pageHeight;
  if (sheet.paper == Paper::Sheet) {
    one.width = l.pageWidth;
    one.height = l.pageHeight;
    return {one};
  }
  // On paper, the sheet's blank margin gives way to the paper's: what is laid out is the sheet within it.
  const double contentWidth = l.pageWidth - 2.0 * kMargin;
  const double contentHeight = l.pageHeight - 2.0 * kMargin;
  const PaperSize paper = SizeOf(sheet.paper);
  for (const bool landscape : {false, true}) {
    one.width = landscape ? paper.height : paper.width;
    one.height = landscape ? paper.width : paper.height;
    if (contentWidth <= one.width - 2.0 * kPaperMargin && contentHeight <= one.height - 2.0 * kPaperMargin) {
      one.shownLeft = (one.width - contentWidth) / 2.0;
      one.shownTop = (one.height - contentHeight) / 2.0;
      one.shownWidth = contentWidth;
      one.shownHeight = contentHeight;
      one.offsetX = one.shownLeft - kMargin;
      one.offsetY = one.shownTop - kMargin;
      return {one};
    }
  }
  // The fewest pages: portrait or landscape, whichever needs fewer (portrait on a tie).
  double width = paper.width;
  double height = paper.height;
  const auto count = [&](double w, double h) {
    return std::pair<int, int>(PagesAcross(contentWidth, w - 2.0 * kPaperMargin),
                               PagesAcross(contentHeight, h - 2.0 * kPaperMargin - kLabelBand));
  };
  auto [columns, rows] = count(width, height);
  if (const auto [c, r] = count(paper.height, paper.width); c * r < columns * rows) {
    std::swap(width, height);
    columns = c;
    rows = r;
  }
  const double printableWidth = width - 2.0 * kPaperMargin;
  const double printableHeight = height - 2.0 * kPaperMargin - kLabelBand;
  const double stepX = printableWidth - kOverlap;
  const double stepY = printableHeight - kOverlap;
  std::vector<MarkerPage> pages;
  for (int row = 0; row < rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      MarkerPage page{};
      page.width = width;
      page.height = height;
      page.row = row;
      page.column = column;
      page.rows = rows;
      page.columns = columns;
      const double x0 = column * stepX;  // within the sheet's content
      const double y0 = row * stepY;
      page.offsetX = kPaperMargin - kMargin - x0;
      page.offsetY = kPaperMargin - kMargin - y0;
      page.shownLeft = kPaperMargin;
      page.shownTop = kPaperMargin;
      page.shownWidth = std::min(contentWidth, x0 + printableWidth) - x0;
      page.shownHeight = std::min(contentHeight, y0 + printableHeight) - y0;
      page.cutLeft = column > 0;
      page.cutTop = row > 0;
      page.joinRight = column + 1 < columns;
      page.joinBottom = row + 1 < rows;
      page.joinX = kPaperMargin + stepX;  // where the next page's content starts
      page.joinY = kPaperMargin + stepY;
      page.label = PageLabel(page, sheet.language);
      pages.push_back(page);
    }
  }
  return pages;
}

std::string MarkerSvg(const MarkerSheet& sheet) {
  const MarkerLayout l = LayoutOf(sheet);
  std::ostringstream s;
  s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Number(l.pageWidth) << "mm\" height=\""
    << Number(l.pageHeight) << "mm\" viewBox=\"0 0 " << Number(l.pageWidth) << " " << Number(l.pageHeight) << "\">\n"
    << "<rect x=\"0\" y=\"0\" width=\"" << Number(l.pageWidth) << "\" height=\"" << Number(l.pageHeight)
    << "\" fill=\"white\"/>\n"
    << "<rect x=\"" << Number(l.boardLeft) << "\" y=\"" << Number(l.boardTop) << "\" width=\"" << Number(l.boardWidth)
    << "\" height=\"" << Number(l.boardHeight) << "\" fill=\"white\" stroke=\"#999999\" stroke-width=\"0.2\"/>\n";
  for (std::size_t i = 0; i < kRadii.size(); ++i) {
    s << "<circle cx=\"" << Number(l.centreX) << "\" cy=\"" << Number(l.centreY) << "\" r=\""
      << Number(kRadii[i] * sheet.radiusMm) << "\" fill=\"" << (i % 2 == 0 ? "black" : "white") << "\"/>\n";
  }
  s << "<rect x=\"" << Number(l.barLeft) << "\" y=\"" << Number(l.barTop) << "\" width=\"" << Number(l.barLength)
    << "\" height=\"2\" fill=\"black\"/>\n";
  for (int mm = 0; mm <= static_cast<int>(l.barLength); mm += 10) {
    s << "<rect x=\"" << Number(l.barLeft + mm - 0.15) << "\" y=\"" << Number(l.barTop - 2) << "\" width=\"0.3\" "
      << "height=\"2\" fill=\"black\"/>\n";
  }
  s << "<text x=\"" << Number(l.barLeft) << "\" y=\"" << Number(l.barTop + 9) << "\" font-family=\"sans-serif\" "
    << "font-size=\"4\">" << l.caption << "</text>\n"
    << "<text x=\"" << Number(l.barLeft) << "\" y=\"" << Number(l.barTop + 15) << "\" font-family=\"sans-serif\" "
    << "font-size=\"4\">" << l.check << "</text>\n</svg>\n";
  return s.str();
}

std::string MarkerPdf(const MarkerSheet& sheet) {
  const MarkerLayout l = LayoutOf(sheet);
  const std::vector<MarkerPage> pages = PagesOf(sheet);
  const bool chinese = sheet.language == SheetLanguage::Zh;
  const std::string font = chinese ? "F2" : "F1";
  const std::string drawing = SheetContent(sheet, l, font);

  // Objects 1 and 2: the catalogue and the page tree; then the fonts; then each page and its content.
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "",
                                      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  std::string fonts = "/F1 3 0 R";
  if (chinese) {
    // One of the standard Chinese fonts every PDF reader supplies (not embedded), by Unicode value.
    objects.push_back(
        "<< /Type /Font /Subtype /Type0 /BaseFont /STSong-Light /Encoding /UniGB-UCS2-H "
        "/DescendantFonts [5 0 R] >>");
    objects.push_back(
        "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /STSong-Light /CIDSystemInfo "
        "<< /Registry (Adobe) /Ordering (GB1) /Supplement 2 >> /FontDescriptor 6 0 R "
        "/DW 1000 /W [1 95 500] >>");
    objects.push_back(
        "<< /Type /FontDescriptor /FontName /STSong-Light /Flags 6 /FontBBox [-25 -254 1000 880] "
        "/ItalicAngle 0 /Ascent 880 /Descent -120 /CapHeight 880 /StemV 93 >>");
    fonts += " /F2 4 0 R";
  }
  std::string kids;
  for (const MarkerPage& page : pages) {
    const auto pt = [](double mm) { return Number(mm * kPointsPerMm); };
    // The sheet moved to its place on the page (PDF's y up: the sheet's bottom at page height - offset -
    // sheet height) and cut to the shown rectangle.
    std::ostringstream c;
    c << "q " << pt(page.shownLeft) << " " << pt(page.height - page.shownTop - page.shownHeight) << " "
      << pt(page.shownWidth) << " " << pt(page.shownHeight) << " re W n\n"
      << "1 0 0 1 " << pt(page.offsetX) << " " << pt(page.height - page.offsetY - l.pageHeight) << " cm\n"
      << drawing << "Q\n"
      << PageMarks(page, chinese, font);
    const std::string content = c.str();
    const std::size_t pageObject = objects.size() + 1;
    kids += (kids.empty() ? "" : " ") + std::to_string(pageObject) + " 0 R";
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + pt(page.width) + " " + pt(page.height) +
                      "] /Contents " + std::to_string(pageObject + 1) + " 0 R /Resources << /Font << " + fonts +
                      " >> >> >>");
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";

  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (const std::size_t offset : offsets) {
    char entry[24];
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    pdf += entry;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

cv::Size MarkerImageSize(const MarkerSheet& sheet) {
  const MarkerLayout l = LayoutOf(sheet);
  const double px = sheet.dpi / 25.4;  // pixels per mm
  return {static_cast<int>(std::lround(l.pageWidth * px)), static_cast<int>(std::lround(l.pageHeight * px))};
}

cv::Mat MarkerImage(const MarkerSheet& sheet) {
  MarkerSheet english = sheet;  // the image font has Latin letters only
  english.language = SheetLanguage::En;
  const MarkerLayout l = LayoutOf(english);
  const double px = sheet.dpi / 25.4;  // pixels per mm
  cv::Mat image(MarkerImageSize(sheet), CV_8UC1, cv::Scalar(255));
  constexpr int kShift = 8;  // sub-pixel bits of OpenCV's drawing
  const auto at = [px](double mmX, double mmY) {
    return cv::Point(static_cast<int>(std::lround(mmX * px * (1 << kShift))),
                     static_cast<int>(std::lround(mmY * px * (1 << kShift))));
  };
  const auto scaled = [px](double mm) { return static_cast<int>(std::lround(mm * px * (1 << kShift))); };
  cv::rectangle(image, at(l.boardLeft, l.boardTop), at(l.boardLeft + l.boardWidth, l.boardTop + l.boardHeight),
                cv::Scalar(153), std::max(1, static_cast<int>(0.2 * px)), cv::LINE_AA, kShift);
  // Pixel centres sit at integer coordinates: the circle's centre in pixels is mm·px - 0.5.
  const cv::Point centre = at(l.centreX - 0.5 / px, l.centreY - 0.5 / px);
  for (std::size_t i = 0; i < kRadii.size(); ++i) {
    cv::circle(image, centre, scaled(kRadii[i] * sheet.radiusMm), cv::Scalar(i % 2 == 0 ? 0 : 255), cv::FILLED,
               cv::LINE_AA, kShift);
  }
  cv::rectangle(image, at(l.barLeft, l.barTop), at(l.barLeft + l.barLength, l.barTop + 2), cv::Scalar(0), cv::FILLED,
                cv::LINE_AA, kShift);
  for (int mm = 0; mm <= static_cast<int>(l.barLength); mm += 10) {
    cv::rectangle(image, at(l.barLeft + mm - 0.15, l.barTop - 2), at(l.barLeft + mm + 0.15, l.barTop), cv::Scalar(0),
                  cv::FILLED, cv::LINE_AA, kShift);
  }
  const double scale = 3.5 * px / 22.0;  // Hershey simplex: about 22 px tall at scale 1; text 3.5 mm tall
  const int thickness = std::max(1, static_cast<int>(0.3 * px));
  cv::putText(image, l.caption, cv::Point(static_cast<int>(l.barLeft * px), static_cast<int>((l.barTop + 9) * px)),
              cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(0), thickness, cv::LINE_AA);
  cv::putText(image, l.check, cv::Point(static_cast<int>(l.barLeft * px), static_cast<int>((l.barTop + 15) * px)),
              cv::FONT_HERSHEY_SIMPLEX, scale, cv::Scalar(0), thickness, cv::LINE_AA);
  return image;
}

std::string MarkerPng(const MarkerSheet& sheet) {
  std::vector<unsigned char> encoded;
  if (!TarnCodecs::Encode(".png", MarkerImage(sheet), encoded) || encoded.size() < 33) return {};
  std::string png(encoded.begin(), encoded.end());
  // pHYs after IHDR (8-byte signature + 25-byte IHDR chunk): pixels per metre on both axes.
  const auto perMetre = static_cast<std::uint32_t>(std::lround(sheet.dpi / 0.0254));
  const std::string body = "pHYs" + BigEndian(perMetre) + BigEndian(perMetre) + std::string(1, '\1');
  const std::string chunk = BigEndian(9) + body + BigEndian(Crc32(body));
  png.insert(33, chunk);
  return png;
}

bool WriteMarkerSheet(const std::string& path, const MarkerSheet& sheet, std::string& error) {
  namespace fs = std::filesystem;
  const std::string extension = fs::path(path).extension().string();
  std::string bytes;
  if (extension == ".pdf") {
    bytes = MarkerPdf(sheet);
  } else if (sheet.paper != Paper::Sheet) {
    error = "the marker on paper (A4, A3, letter) is written as PDF: give a .pdf file, not " + path;
    return false;
  } else if (extension == ".svg") {
    bytes = MarkerSvg(sheet);
  } else if (extension == ".png") {
    const cv::Size size = MarkerImageSize(sheet);
    const double pixels = static_cast<double>(size.width) * static_cast<double>(size.height);
    if (pixels > kMaxMarkerPixels) {
      const auto fits = static_cast<int>(sheet.dpi * std::sqrt(kMaxMarkerPixels / pixels));
      std::ostringstream why;
      why << "a PNG of this sheet at " << sheet.dpi << " dpi would be " << size.width << " x " << size.height
          << " pixels, more than the " << kMaxMarkerPixels / 1e6
          << " million a PNG may have: write .pdf or .svg (true to size at any resolution)";
      if (fits >= 72) why << ", or give --dpi " << fits << " or less";
      error = why.str();
      return false;
    }
    bytes = MarkerPng(sheet);
  } else {
    error = "the marker file must end in .pdf, .svg or .png: " + path;
    return false;
  }
  if (bytes.empty()) {
    error = "cannot encode " + path;
    return false;
  }
  return ReplaceFile(path, bytes, &error);
}

}  // namespace TarnWorkflow
