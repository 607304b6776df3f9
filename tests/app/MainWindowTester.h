// SPDX-License-Identifier: Apache-2.0
#pragma once

// The widget tests' way into the window: its form, its stored results and its library call.

#include "MainWindow.h"
#include "ResidualPlot.h"
#include "ui_MainWindow.h"

class MainWindowTester {
 public:
  static Ui::MainWindow& Form(MainWindow& window) { return *window.ui; }
  static TamoHandEye::FinalResult& LastResult(MainWindow& window) { return window.lastResult; }
  static std::vector<TamoHandEye::MarkerBoardResult>& MarkerResults(MainWindow& window) { return window.markerResults; }
  /// 0: xy, 1: xz, 2: yz.
  static ResidualPlot* Plot(MainWindow& window, int which) {
    return which == 0 ? window.xyPlot : which == 1 ? window.xzPlot : window.yzPlot;
  }
  static const TamoHandEye::PosePlan& Plan(const MainWindow& window) { return window.lastPlan; }
  static bool Calculate(MainWindow& window, int robotIndex) {
    return window.Calculate(robotIndex, {}, {}, window.Settings(false));
  }
};
