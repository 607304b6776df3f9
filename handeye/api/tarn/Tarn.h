// SPDX-License-Identifier: Apache-2.0
#pragma once

// Everything an SDK user needs: records, result codes with their messages, and the version.

#include <tarn/AlgoParam.h>
#include <tarn/CalibrationCheck.h>
#include <tarn/CalibrationReport.h>
#include <tarn/ErrorCode.h>
#include <tarn/FinalResult.h>
#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/MarkerDetect.h>
#include <tarn/Output.h>
#include <tarn/PosePlan.h>
#include <tarn/PoseSuggestion.h>
#include <tarn/RobotTypes.h>
#include <tarn/RowConversions.h>
#include <tarn/SolveFinalResult.h>
#include <tarn/Version.h>
