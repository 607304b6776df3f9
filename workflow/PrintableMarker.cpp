// SPDX-License-Identifier: Apache-2.0
#include "PrintableMarker.h"

#include "DataFiles.h"
#include "ImageCodecs.h"

#include <opencv2/imgproc.hpp>

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
  l.caption = "Tarn concentric-circle marker: R = " + MmText(r) + " mm (outer diameter " + MmText(2.0 * r) + " mm)";
  l.check = "Scale bar " + MmText(l.barLength) + " mm: measure it; print at 100 %, never fitted to the page";
  return l;
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
  const double h = l.pageHeight;
  // PDF's y axis points up: y_pdf = (page height - y) in points.
  const auto x = [](double mm) { return mm * kPointsPerMm; };
  const auto y = [h](double mm) { return (h - mm) * kPointsPerMm; };
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
  c << "BT /F1 11 Tf " << Number(x(l.barLeft)) << " " << Number(y(l.barTop + 9)) << " Td (" << l.caption << ") Tj ET\n";
  c << "BT /F1 11 Tf " << Number(x(l.barLeft)) << " " << Number(y(l.barTop + 15)) << " Td (" << l.check << ") Tj ET\n";
  const std::string content = c.str();

  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Number(x(l.pageWidth)) + " " + Number(x(l.pageHeight)) +
          "] /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
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
  const MarkerLayout l = LayoutOf(sheet);
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
