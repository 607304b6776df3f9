// SPDX-License-Identifier: Apache-2.0
#pragma once

// A calibration's camera transform handed to the cell: a ROS 2 static transform launch file, the equivalent URDF
// joint, a plain YAML of the transform, or a controller's frame definition in its own syntax and units (eye-in-hand
// the camera as a tool frame, eye-to-hand as a user frame).

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace TarnWorkflow {

enum class ExportTarget { Ros2, Urdf, Yaml, Fanuc, Kuka, Abb, Ur };

/// The target of a name: "ros2", "urdf", "yaml", "fanuc", "kuka", "abb", "ur" (any letter case); nothing otherwise.
std::optional<ExportTarget> ExportTargetOf(const std::string& name);
/// The names ExportTargetOf takes, for messages.
std::string ExportTargetNames();

struct ExportOptions {
  std::string parent;  ///< the parent frame's name; empty: "tool0" eye-in-hand, "base_link" eye-to-hand
  std::string child;   ///< the camera frame's name; empty: "camera_optical_frame" (the point cloud's: z along the view)
  int number = 1;      ///< the controller's tool or user frame number
  std::vector<std::string> comments;  ///< header lines (ASCII)
};

/// The transform of the camera frame in its parent (4 x 4 row by row, millimetres): camera-in-flange eye-in-hand,
/// camera-in-base eye-to-hand. Throws std::invalid_argument when it is not a rigid transform.
std::string ExportTransform(ExportTarget target, const std::array<double, 16>& cameraMm, bool eyeToHand,
                            const ExportOptions& options);

}  // namespace TarnWorkflow
