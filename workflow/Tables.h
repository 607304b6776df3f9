// SPDX-License-Identifier: Apache-2.0
#pragma once

// Pose and marker files in the forms integrators' tools write: values separated by commas, semicolons,
// tabs or spaces; '#' starts a comment; blank lines are skipped; a first line mostly of names (fewer than
// half its fields numbers) is a header and skipped; a first column that is not a number (a shot's file name, as in
// `tarn detect`'s table) is dropped. The bounds of the data files hold (64 KiB a line, 100,000 rows).

#include "DataFiles.h"

#include <tarn/CalibrationReport.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/SolveFinalResult.h>

#include <cstddef>
#include <string>
#include <vector>

namespace TarnWorkflow {

struct TableRow {
  std::size_t line = 0;  ///< 1-based line in the file
  std::vector<double> values;
  std::vector<std::string> texts;  ///< the values as the file writes them
};

/// The rows of numbers of such a file; `what` names the file in messages ("robot data file").
/// `names`, when given, receives the fields of a header line of names (empty without one).
bool ReadTable(const std::string& path, const std::string& what, std::vector<TableRow>& rows, DataFileError& error,
               std::vector<std::string>* names = nullptr);

/// Robot rows of `rowLength` values for the type `typeName`, from such a file: the one reader of the robot
/// data file, for every front end. `texts`, when given, receives each value as the file writes it.
bool ReadRobotTable(const std::string& path, std::size_t rowLength, const std::string& typeName,
                    TamoHandEye::RobotRows& rows, DataFileError& error,
                    std::vector<std::vector<std::string>>* texts = nullptr);

/// Flange poses as 4 x 4 matrices (16 values row by row, or the first 12 of them), translation in
/// millimetres (metres when `meter`), each base_from_flange or, with `invert`, flange_from_base; returned
/// as rows of the ABB quaternion type (X Y Z in mm, then w x y z). A rotation block further than 1e-3 from a
/// rotation is refused; a closer one is made exactly one.
bool ReadPoseMatrices(const std::string& path, bool meter, bool invert, TamoHandEye::RobotRows& rows,
                      DataFileError& error);

enum class MarkerForm {
  Points,   ///< x y z [u v] per line
  Targets,  ///< the marker's full pose per line (16 or 12 values of a 4 x 4 matrix, or X Y Z and a quaternion): its
            ///< translation
};

/// The marker points of a markers file, in metres (the file's values times `toMetre`): a table in the given
/// form, or `tarn detect --json` output (a file starting with '['), every shot of which must have its marker.
/// `planes`, when given, receives one entry per marker: the board's normal where the file gives one (a table's
/// nx ny nz columns; tarn detect's "normal" with its axes and covariances, and the centre's covariance), or a
/// target's rotation (a matrix's; a quaternion's where the column names say its order: "qw" or "w" first or last), none
/// otherwise. A normal that is not of unit length (within 1 %) is refused.
bool ReadMarkers(const std::string& path, MarkerForm form, double toMetre,
                 std::vector<TamoHandEye::MarkerBoardResult>& markers, DataFileError& error,
                 std::vector<TamoHandEye::ShotPlane>* planes = nullptr);

}  // namespace TarnWorkflow
