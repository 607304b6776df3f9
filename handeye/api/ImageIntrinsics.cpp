// SPDX-License-Identifier: Apache-2.0
#include <tarn/FittedMarkerDetect.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <locale>
#include <map>
#include <sstream>
#include <vector>

namespace TamoHandEye {
namespace {

constexpr long long kMostIntrinsicsBytes = 1 << 20;
// The largest image side a camera file may state (pixels).
constexpr double kMostPixels = 100000.0;

// A YAML file flattened: each value's key path (lower case, components joined by '.') and its values (a
// scalar is one value, a sequence many). Only what camera files use is understood: mappings by
// indentation, flow sequences [a, b, …] over several lines, block sequences of scalars, tags, comments.
using Flat = std::map<std::string, std::vector<std::string>>;

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string WithoutComment(const std::string& line) {
  char quote = 0;
  for (std::size_t k = 0; k < line.size(); ++k) {
    const char c = line[k];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '#' && (k == 0 || line[k - 1] == ' ' || line[k - 1] == '\t')) {
      return line.substr(0, k);
    }
  }
  return line;
}

std::string Unquoted(std::string value) {
  value = Trim(value);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

void SplitFlow(const std::string& inside, std::vector<std::string>& values) {
  std::stringstream items(inside);
  std::string item;
  while (std::getline(items, item, ',')) {
    if (!Trim(item).empty()) values.push_back(Unquoted(item));
  }
}

struct Parent {
  std::size_t indent;
  std::string path;
};

Flat Flatten(const std::string& text) {
  Flat flat;
  std::vector<Parent> parents;
  std::string flow, flowPath, lastPath;
  std::stringstream lines(text);
  std::string raw;
  while (std::getline(lines, raw)) {
    const std::string line = WithoutComment(raw);
    if (!flowPath.empty()) {  // inside a flow sequence: up to its ']'
      flow += ' ' + line;
      if (const auto end = flow.find(']'); end != std::string::npos) {
        SplitFlow(flow.substr(0, end), flat[flowPath]);
        flowPath.clear();
      }
      continue;
    }
    const std::string content = Trim(line);
    if (content.empty() || content[0] == '%' || content.rfind("---", 0) == 0 || content.rfind("...", 0) == 0) continue;
    const std::size_t indent = line.find_first_not_of(" \t");
    if (content[0] == '-') {  // a block sequence's item: belongs to the key last opened
      if (!lastPath.empty()) flat[lastPath].push_back(Unquoted(content.substr(1)));
      continue;
    }
    const auto colon = content.find(':');
    if (colon == std::string::npos) continue;
    std::string key = Unquoted(content.substr(0, colon));
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    while (!parents.empty() && parents.back().indent >= indent) parents.pop_back();
    const std::string path = parents.empty() ? key : parents.back().path + '.' + key;
    std::string value = Trim(content.substr(colon + 1));
    if (!value.empty() && value[0] == '!') {  // a tag such as !!opencv-matrix
      const auto space = value.find_first_of(" \t");
      value = space == std::string::npos ? std::string() : Trim(value.substr(space));
    }
    lastPath = path;
    if (value.empty()) {
      parents.push_back({indent, path});
    } else if (value[0] == '[') {
      flow = value.substr(1);
      if (const auto end = flow.find(']'); end != std::string::npos) {
        SplitFlow(flow.substr(0, end), flat[path]);
      } else {
        flowPath = path;
        flat[path];
      }
    } else {
      flat[path].push_back(Unquoted(value));
    }
  }
  return flat;
}

// A key path's name for matching: its last component (or the one before a final "data", as OpenCV's and
// ROS's matrices nest their values), lower case without underscores; and its depth.
std::string NameOf(const std::string& path, int& depth) {
  std::vector<std::string> parts;
  std::stringstream split(path);
  std::string part;
  while (std::getline(split, part, '.')) parts.push_back(part);
  if (parts.empty()) {  // an empty key
    depth = 0;
    return {};
  }
  if (parts.size() > 1 && parts.back() == "data") parts.pop_back();
  depth = static_cast<int>(parts.size());
  std::string name;
  for (const char c : parts.back()) {
    if (c != '_' && c != ' ') name += c;
  }
  return name;
}

// The values of the shallowest key named one of `names`; nullptr when none is.
const std::vector<std::string>* Find(const Flat& flat, std::initializer_list<const char*> names) {
  const std::vector<std::string>* best = nullptr;
  int bestDepth = 1 << 30;
  for (const auto& [path, values] : flat) {
    int depth = 0;
    const std::string name = NameOf(path, depth);
    for (const char* wanted : names) {
      if (name == wanted && depth < bestDepth && (!values.empty() || !best)) {
        best = &values;
        bestDepth = depth;
      }
    }
  }
  return best;
}

bool Numbers(const std::vector<std::string>& values, std::vector<double>& numbers) {
  numbers.clear();
  for (const std::string& text : values) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double x = 0.0;
    if (!(in >> x) || !(in >> std::ws).eof()) return false;
    numbers.push_back(x);
  }
  return true;
}

bool ReadText(const std::string& path, std::string& text, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": cannot be opened";
    return false;
  }
  struct stat about {};
  if (::fstat(fd, &about) != 0 || !S_ISREG(about.st_mode) || about.st_size > kMostIntrinsicsBytes) {
    error = path + (S_ISREG(about.st_mode) ? ": more than 1 MB, not a camera file" : ": not a regular file");
    ::close(fd);
    return false;
  }
  text.resize(static_cast<std::size_t>(about.st_size));
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t got = ::read(fd, &text[done], text.size() - done);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  text.resize(done);
  return true;
}

// The camera matrix and size from the flattened file.
bool TakeMatrix(const Flat& flat, ImageIntrinsics& k, std::string& error) {
  const auto* matrix = Find(flat, {"cameramatrix", "k", "intrinsicmatrix", "intrinsics"});
  std::vector<double> m;
  if (!matrix || !Numbers(*matrix, m) || m.size() != 9) {
    error = matrix ? "the camera matrix is not 9 numbers" : "no camera matrix (camera_matrix or k) in it";
    return false;
  }
  if (m[3] != 0.0 || m[6] != 0.0 || m[7] != 0.0 || !(m[8] != 0.0)) {
    error = "the camera matrix is not of the form [fx s cx; 0 fy cy; 0 0 1]";
    return false;
  }
  k.fx = m[0] / m[8];
  k.skew = m[1] / m[8];
  k.cx = m[2] / m[8];
  k.fy = m[4] / m[8];
  k.cy = m[5] / m[8];
  std::vector<double> n;
  // A size is a whole number of pixels (0: not stated); anything else is not this camera's size.
  const auto size = [&](std::initializer_list<const char*> keys, const char* what, int& out) {
    const auto* value = Find(flat, keys);
    if (!value || !Numbers(*value, n) || n.size() != 1) return true;
    if (!(n[0] >= 0.0 && n[0] <= kMostPixels && n[0] == std::floor(n[0]))) {
      error = std::string("the image ") + what + " is not a whole number of pixels";
      return false;
    }
    out = static_cast<int>(n[0]);
    return true;
  };
  return size({"imagewidth", "width"}, "width", k.width) && size({"imageheight", "height"}, "height", k.height);
}

bool TakeDistortion(const Flat& flat, ImageIntrinsics& k, std::string& error) {
  if (const auto* model = Find(flat, {"distortionmodel"}); model && !model->empty()) {
    const std::string& name = model->front();
    if (name != "plumb_bob" && name != "radtan" && name != "rational_polynomial" && name != "none") {
      error = "distortion model \"" + name + "\" is not supported: give plumb_bob (k1 k2 p1 p2 k3)";
      return false;
    }
  }
  std::vector<double> d;
  const auto* values = Find(flat, {"distortioncoefficients", "distcoeffs", "distortion", "d"});
  if (values && !Numbers(*values, d)) {
    error = "the distortion coefficients are not numbers";
    return false;
  }
  if (!d.empty() && d.size() < 4) {
    error = "the distortion has " + std::to_string(d.size()) + " coefficients; k1 k2 p1 p2 [k3] are needed";
    return false;
  }
  for (std::size_t i = 5; i < d.size(); ++i) {
    if (d[i] != 0.0) {
      error = "distortion coefficient " + std::to_string(i + 1) + " is not 0: only k1 k2 p1 p2 k3 are modelled";
      return false;
    }
  }
  d.resize(std::max<std::size_t>(d.size(), 5), 0.0);
  k.k1 = d[0];
  k.k2 = d[1];
  k.p1 = d[2];
  k.p2 = d[3];
  k.k3 = d[4];
  return true;
}

}  // namespace

bool ReadImageIntrinsics(const std::string& path, ImageIntrinsics& intrinsics, std::string& error) {
  try {
    std::string text;
    if (!ReadText(path, text, error)) return false;
    const Flat flat = Flatten(text);
    ImageIntrinsics k;
    if (!TakeMatrix(flat, k, error) || !TakeDistortion(flat, k, error)) {
      error = path + ": " + error;
      return false;
    }
    std::vector<double> n;
    if (const auto* shift = Find(flat, {"registrationshiftpx"})) {
      if (!Numbers(*shift, n) || n.size() != 2) {
        error = path + ": registration_shift_px is not two numbers [u, v]";
        return false;
      }
      k.shiftUPx = n[0];
      k.shiftVPx = n[1];
    }
    if (const auto* turn = Find(flat, {"registrationturndeg"})) {
      if (!Numbers(*turn, n) || n.size() != 1) {
        error = path + ": registration_turn_deg is not one number";
        return false;
      }
      k.turnDeg = n[0];
    }
    if (const std::string problem = CheckImageIntrinsics(k); !problem.empty()) {
      error = path + ": " + problem;
      return false;
    }
    intrinsics = k;
    return true;
  } catch (const std::exception& e) {
    error = path + ": " + e.what();
    return false;
  }
}

std::string CheckImageIntrinsics(const ImageIntrinsics& k) {
  const double all[] = {k.fx, k.fy, k.cx, k.cy,       k.skew,     k.k1,     k.k2,
                        k.p1, k.p2, k.k3, k.shiftUPx, k.shiftVPx, k.turnDeg};
  for (const double x : all) {
    if (!std::isfinite(x)) return "the 2D camera's intrinsics hold a value that is not a finite number";
  }
  if (!(k.fx > 0.0 && k.fy > 0.0)) return "the 2D camera's focal lengths fx and fy must be above 0";
  if (k.width < 0 || k.height < 0 || (k.width > 0) != (k.height > 0)) {
    return "the 2D camera's image size must be two sizes above 0, or none";
  }
  if (std::abs(k.turnDeg) > 45.0) return "the registration's turn is more than 45 degrees";
  return {};
}

}  // namespace TamoHandEye
