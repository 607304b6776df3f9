// SPDX-License-Identifier: Apache-2.0
#include "ShotNames.h"

#include "Text.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

namespace TarnWorkflow {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string RemoveAll(std::string text, const std::string& part) {
  for (std::size_t at = text.find(part); !part.empty() && at != std::string::npos; at = text.find(part, at)) {
    text.erase(at, part.size());
  }
  return text;
}

}  // namespace

std::vector<ShotName> CollectShotNames(const std::vector<std::string>& entries, const std::string& extension,
                                       const ReplaceQuestion& replace) {
  std::vector<ShotName> names;
  std::map<std::string, std::size_t> byKey;  // key -> position in names
  for (const std::string& entry : entries) {
    const std::string base = RemoveAll(entry, "." + extension);
    const std::size_t underscore = base.rfind('_');
    const std::string key = underscore == std::string::npos ? base : base.substr(underscore + 1);
    double value = 0.0;
    if (!ParseDecimal(key, value)) continue;
    ShotName shot{entry, base + "." + extension, key};
    const auto held = byKey.find(key);
    if (held == byKey.end()) {
      byKey.emplace(key, names.size());
      names.push_back(std::move(shot));
    } else if (replace(shot.name, names[held->second].name)) {
      // The replacement goes to the end of the list, as a newly found file does.
      names.erase(names.begin() + static_cast<std::ptrdiff_t>(held->second));
      for (auto& [k, position] : byKey) {
        if (position > held->second) --position;
      }
      held->second = names.size();
      names.push_back(std::move(shot));
    }
  }
  std::vector<std::pair<int, std::size_t>> order;
  for (std::size_t i = 0; i < names.size(); ++i) {
    int number = 0;
    SortKey(names[i].name, number);
    order.emplace_back(number, i);
  }
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ShotName> sorted;
  for (const auto& entry : order) sorted.push_back(std::move(names[entry.second]));
  return sorted;
}

bool SortKey(const std::string& name, int& number) {
  static const std::array<std::string, 8> kExtensions{".jpg", ".JPG", ".png", ".PNG", ".bmp", ".BMP", ".ply", ".PLY"};
  number = 0;
  for (std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0; dot = name.rfind('.', dot - 1)) {
    const bool extension = std::any_of(kExtensions.begin(), kExtensions.end(),
                                       [&](const std::string& e) { return name.compare(dot, e.size(), e) == 0; });
    if (!extension || !std::isdigit(static_cast<unsigned char>(name[dot - 1]))) continue;
    std::size_t first = dot - 1;
    while (first > 0 && std::isdigit(static_cast<unsigned char>(name[first - 1]))) --first;
    const long long value = std::strtoll(name.substr(first, dot - first).c_str(), nullptr, 10);
    number = value <= INT_MAX ? static_cast<int>(value) : 0;  // too long a number counts as 0
    return true;
  }
  return false;
}

bool SortShotNames(std::vector<std::string>& names) {
  bool allMatched = true;
  std::vector<std::pair<int, std::string>> keyed;
  for (std::string& name : names) {
    int number = 0;
    allMatched = SortKey(name, number) && allMatched;
    keyed.emplace_back(number, std::move(name));
  }
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  names.clear();
  for (auto& entry : keyed) names.push_back(std::move(entry.second));
  return allMatched;
}

std::vector<std::string> ListShotFiles(const std::string& folder, const std::string& extension,
                                       std::vector<std::string>& problems) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    if (Lower(it->path().extension().string()) != "." + Lower(extension)) continue;
    // An entry that cannot be looked at (a symbolic link loop, no permission) is reported and skipped.
    std::error_code entryError;
    const bool regular = it->is_regular_file(entryError);
    if (entryError || (regular && ::access(it->path().c_str(), R_OK) != 0)) {
      problems.push_back(it->path().filename().string() + ": cannot be read" +
                         (entryError ? " (" + entryError.message() + ")" : std::string()) + ", skipped");
    } else if (regular) {
      names.push_back(it->path().filename().string());
    } else {
      // A pipe, a device or a folder by a shot's name would block or fail the reading: said, and left out.
      problems.push_back(it->path().filename().string() + ": not a regular file, skipped");
    }
  }
  if (error) problems.push_back("cannot read the folder " + folder + ": " + error.message());
  std::sort(names.begin(), names.end());
  return names;
}

PairingResult PairShots(const std::string& imageFolder, const std::string& imageExtension,
                        const std::string& cloudFolder) {
  PairingResult result;
  const auto collect = [&](const std::string& folder, const std::string& extension) {
    const std::vector<std::string> entries = ListShotFiles(folder, extension, result.problems);
    std::set<std::string> duplicates;
    const auto keepFirst = [&](const std::string& name, const std::string& held) {
      duplicates.insert(name);
      result.problems.push_back(name + ": the number after the last underscore is that of " + held + ", skipped");
      return false;
    };
    const std::vector<ShotName> names = CollectShotNames(entries, extension, keepFirst);
    for (const std::string& entry : entries) {
      const bool kept = std::any_of(names.begin(), names.end(), [&](const ShotName& n) { return n.entry == entry; });
      if (!kept && duplicates.count(RemoveAll(entry, "." + extension) + "." + extension) == 0) {
        result.problems.push_back(entry + ": not named <name>_<number>." + extension + ", skipped");
      }
    }
    return names;
  };
  const std::vector<ShotName> images = collect(imageFolder, imageExtension);
  const std::vector<ShotName> clouds = collect(cloudFolder, "ply");
  const auto find = [](const std::vector<ShotName>& names, const std::string& key) {
    return std::find_if(names.begin(), names.end(), [&](const ShotName& n) { return n.key == key; });
  };
  for (const ShotName& image : images) {
    const auto cloud = find(clouds, image.key);
    if (cloud == clouds.end()) {
      result.problems.push_back(image.entry + ": no point cloud with the number " + image.key);
      continue;
    }
    result.pairs.push_back(
        {image.key, (fs::path(imageFolder) / image.entry).string(), (fs::path(cloudFolder) / cloud->entry).string()});
  }
  for (const ShotName& cloud : clouds) {
    if (find(images, cloud.key) == images.end()) {
      result.problems.push_back(cloud.entry + ": no image with the number " + cloud.key);
    }
  }
  return result;
}

}  // namespace TarnWorkflow
