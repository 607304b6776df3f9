// SPDX-License-Identifier: Apache-2.0
#pragma once

// Which files of a folder are shots, and their order. A shot's name ends in "_<number>.<extension>": the
// text after the last underscore is its pose key (so "1" and "01" differ), and shots are ordered by the
// digits right before the extension. The desktop program pairs its two ordered lists by position, the
// command line by equal keys.

#include <functional>
#include <string>
#include <vector>

namespace TarnWorkflow {

/// Asked when two files carry the same key: keep `newName` instead of `heldName`?
using ReplaceQuestion = std::function<bool(const std::string& newName, const std::string& heldName)>;

struct ShotName {
  std::string entry;  ///< the file name as listed
  std::string name;   ///< the name rebuilt from its base: the base plus "." plus the extension
  std::string key;    ///< the text after the last "_" of the base
};

/// The entries that follow the naming rule with `extension` (which must be written in that case: every
/// occurrence of "." + extension is removed to give the base), one per key (`replace` decides between
/// two of the same key), ordered by SortKey (entries of equal order keep the order they came in).
std::vector<ShotName> CollectShotNames(const std::vector<std::string>& entries, const std::string& extension,
                                       const ReplaceQuestion& replace);

/// The ordering number of a name: all the digits right before the last ".png", ".jpg", ".bmp" or ".ply"
/// (each in lower or upper case) that follows a digit; false when there is none (the number is then 0).
bool SortKey(const std::string& name, int& number);
/// Sorts by SortKey, keeping the order of equal numbers. False when a name has no number (it sorts as 0).
bool SortShotNames(std::vector<std::string>& names);

struct ShotPair {
  std::string key;    ///< the pose key, e.g. "3"
  std::string image;  ///< full path
  std::string cloud;  ///< full path
};

struct PairingResult {
  std::vector<ShotPair> pairs;        ///< in shot order
  std::vector<std::string> problems;  ///< files left out and why
};

/// The regular files of `folder` named "*.<extension>" with the extension in any case, by name; entries
/// that cannot be looked at, entries by such a name that are not regular files (a pipe, a device) and a
/// folder that cannot be read are reported in `problems`.
std::vector<std::string> ListShotFiles(const std::string& folder, const std::string& extension,
                                       std::vector<std::string>& problems);
/// Lists the images ("*.<imageExtension>") and point clouds ("*.ply"), collects each list (a second file
/// of a key is left out) and pairs the two by equal keys, in the images' order.
PairingResult PairShots(const std::string& imageFolder, const std::string& imageExtension,
                        const std::string& cloudFolder);

}  // namespace TarnWorkflow
