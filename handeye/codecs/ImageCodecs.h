// SPDX-License-Identifier: Apache-2.0
#pragma once
// OpenCV's image codecs, loaded the first time an image is decoded or encoded.
//
// The codecs' library pulls in some 140 shared objects (every format's library and theirs); a program
// that never reads or writes an image (a calibration from a markers file, verify, suggest, the desktop's
// first window, `import tarn`) should not pay for them at start-up. These functions behave as OpenCV's
// own of the same names (the same pixels, the same exceptions); when the codecs cannot be loaded they
// fail as for an unreadable image and `LoadProblem()` says why.

#include <opencv2/core/mat.hpp>

#include <string>
#include <vector>

namespace TarnCodecs {

// cv::imdecode: an empty matrix when the bytes are not an image the codecs decode.
cv::Mat Decode(const std::vector<unsigned char>& bytes, int flags);
// cv::imencode: false when the image cannot be encoded in that format.
bool Encode(const std::string& extension, const cv::Mat& image, std::vector<unsigned char>& encoded,
            const std::vector<int>& params = {});
// cv::imread and cv::imwrite.
cv::Mat Read(const std::string& path, int flags);
bool Write(const std::string& path, const cv::Mat& image, const std::vector<int>& params = {});

// Empty when the codecs load (they are loaded now if they were not yet); else why they do not.
std::string LoadProblem();

}  // namespace TarnCodecs
