// SPDX-License-Identifier: Apache-2.0
#include "detect/ContourSearch.h"

#include <opencv2/core/core_c.h>
#include <opencv2/imgproc/imgproc_c.h>

namespace TamoHandEye {
namespace Detect {

void ContourSearch::Release::operator()(CvMemStorage* s) const { cvReleaseMemStorage(&s); }

ContourSearch::ContourSearch() : storage(cvCreateMemStorage(0)) {}
ContourSearch::~ContourSearch() = default;
ContourSearch::ContourSearch(const ContourSearch&) : ContourSearch() {}
ContourSearch& ContourSearch::operator=(const ContourSearch&) { return *this; }

cv::Mat ContourSearch::Frame(cv::Size size) {
  if (framed.rows != size.height + 2 || framed.cols != size.width + 2) {
    framed.create(size.height + 2, size.width + 2, CV_8UC1);
    framed.setTo(0);
  }
  return framed(cv::Rect(1, 1, size.width, size.height));
}

void ContourSearch::Find(std::vector<std::vector<cv::Point>>& contours, std::vector<cv::Vec4i>& hierarchy) {
  contours.clear();
  hierarchy.clear();
  if (framed.empty()) return;
  // The search marks the pixels it walks in place, and starts by clearing the image's outermost pixels:
  // here the frame, so the image itself is searched whole, its points shifted back by the frame's width.
  cvClearMemStorage(storage.get());
  CvMat image = cvMat(framed);
  CvSeq* first = nullptr;
  cvFindContours(&image, storage.get(), &first, sizeof(CvContour), CV_RETR_TREE, CV_CHAIN_APPROX_NONE, cvPoint(-1, -1));
  if (!first) return;
  // Every contour of the tree in its walking order, each numbered by its place in it.
  CvSeq* all = cvTreeToNodeSeq(first, sizeof(CvSeq), storage.get());
  const int total = all->total;
  std::vector<CvSeq*> nodes(static_cast<std::size_t>(total));
  cvCvtSeqToArray(all, nodes.data());
  contours.resize(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    reinterpret_cast<CvContour*>(nodes[i])->color = static_cast<int>(i);
    contours[i].resize(static_cast<std::size_t>(nodes[i]->total));
    cvCvtSeqToArray(nodes[i], contours[i].data());
  }
  const auto number = [](const CvSeq* s) { return s ? reinterpret_cast<const CvContour*>(s)->color : -1; };
  hierarchy.reserve(nodes.size());
  for (const CvSeq* c : nodes)
    hierarchy.emplace_back(number(c->h_next), number(c->h_prev), number(c->v_next), number(c->v_prev));
}

}  // namespace Detect
}  // namespace TamoHandEye
