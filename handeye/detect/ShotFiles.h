// SPDX-License-Identifier: Apache-2.0
#pragma once

// Opening a shot's files safely, and an image's size read from its header before anything is decoded.

#include <opencv2/core.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace TamoHandEye {
namespace Detect {

/// Opens `path` for reading when it is a regular file. Never waits: a FIFO, a device or a folder is
/// refused at once. Returns the descriptor (the caller closes it) and the file's size, or -1 with
/// `error` saying why.
int OpenRegularFile(const std::string& path, std::size_t& size, std::string& error);

/// The whole content of a regular file; false with `error` saying why (see OpenRegularFile).
bool ReadRegularFile(const std::string& path, std::vector<unsigned char>& bytes, std::string& error);

/// The width and height an image file's header states, for PNG, JPEG, BMP, TIFF and PNM (P1–P6);
/// nothing for other formats, for a header cut short, or for a header stating no size.
std::optional<cv::Size> ImageHeaderSize(const unsigned char* data, std::size_t size);

}  // namespace Detect
}  // namespace TamoHandEye
