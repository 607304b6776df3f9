#pragma once

// Pairs the 2D images and point clouds of a data set by the number after the last underscore of their
// names (image_3.png goes with cloud_3.ply), ordered by that number.

#include <string>
#include <vector>

namespace TarnCli {

struct ShotPair {
  std::string key;    ///< the text after the last "_", e.g. "3"
  std::string image;  ///< full path
  std::string cloud;  ///< full path
};

struct PairingResult {
  std::vector<ShotPair> pairs;
  std::vector<std::string> problems;  ///< files left without a partner, duplicate numbers, bad names
};

/// Files of `folder` ending in "." + extension (case-insensitive), keyed by the text after the last "_"
/// (which must be a number), then paired by equal keys and sorted by the key's value.
PairingResult PairShots(const std::string& imageFolder, const std::string& imageExtension,
                        const std::string& cloudFolder);

}  // namespace TarnCli
