#include "ShotPairs.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace TarnCli {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// key -> path, for the files of one folder with one extension.
std::map<std::string, std::string> Collect(const std::string& folder, const std::string& extension,
                                           std::vector<std::string>& problems) {
  std::map<std::string, std::string> files;
  std::error_code error;
  std::vector<fs::path> entries;
  fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
    if (Lower(it->path().extension().string()) != "." + Lower(extension)) continue;
    // An entry that cannot be looked at (a symbolic link loop, no permission) is reported and skipped.
    std::error_code entryError;
    const bool regular = it->is_regular_file(entryError);
    if (entryError) {
      problems.push_back(it->path().filename().string() + ": cannot be read (" + entryError.message() + "), skipped");
    } else if (regular) {
      entries.push_back(it->path());
    }
  }
  if (error) {
    problems.push_back("cannot read the folder " + folder + ": " + error.message());
    return files;
  }
  std::sort(entries.begin(), entries.end());
  for (const fs::path& path : entries) {
    const std::string stem = path.stem().string();
    const std::size_t underscore = stem.rfind('_');
    const std::string key = underscore == std::string::npos ? std::string() : stem.substr(underscore + 1);
    char* end = nullptr;
    const std::string keyCopy = key;
    std::strtod(keyCopy.c_str(), &end);
    if (key.empty() || end != keyCopy.c_str() + keyCopy.size()) {
      problems.push_back(path.filename().string() + ": no number after the last underscore, skipped");
      continue;
    }
    if (!files.emplace(key, path.string()).second) {
      problems.push_back(path.filename().string() + ": number " + key + " used twice, skipped");
    }
  }
  return files;
}

}  // namespace

PairingResult PairShots(const std::string& imageFolder, const std::string& imageExtension,
                        const std::string& cloudFolder) {
  PairingResult result;
  const auto images = Collect(imageFolder, imageExtension, result.problems);
  const auto clouds = Collect(cloudFolder, "ply", result.problems);
  for (const auto& [key, image] : images) {
    const auto cloud = clouds.find(key);
    if (cloud == clouds.end()) {
      result.problems.push_back(fs::path(image).filename().string() + ": no point cloud with the number " + key);
      continue;
    }
    result.pairs.push_back({key, image, cloud->second});
  }
  for (const auto& [key, cloud] : clouds) {
    if (images.find(key) == images.end()) {
      result.problems.push_back(fs::path(cloud).filename().string() + ": no image with the number " + key);
    }
  }
  std::stable_sort(result.pairs.begin(), result.pairs.end(), [](const ShotPair& a, const ShotPair& b) {
    return std::strtod(a.key.c_str(), nullptr) < std::strtod(b.key.c_str(), nullptr);
  });
  return result;
}

}  // namespace TarnCli
