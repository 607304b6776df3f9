// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <tarn/AlgoParam.h>
#include <tarn/CalibrationReport.h>
#include <tarn/FinalResult.h>
#include <tarn/MarkerBoardResult.h>
#include <tarn/PosePlan.h>
#include <tarn/PoseSuggestion.h>

#include <QColor>
#include <QMainWindow>
#include <QMetaType>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace Ui {
class MainWindow;
}
namespace TarnWorkflow {
struct RobotType;
struct SavedResult;
}  // namespace TarnWorkflow

class Dialogs;
class QDialog;
class QListWidgetItem;
class QTableWidget;
class QTableWidgetItem;
class ResidualPlot;

Q_DECLARE_METATYPE(TamoHandEye::FinalResult)
Q_DECLARE_METATYPE(std::vector<TamoHandEye::MarkerBoardResult>)

/// The operator's window: tab "采集" collects image sets and robot poses, "计算" shows the residuals,
/// "结果" the solved poses.
class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  using FinalResult = TamoHandEye::FinalResult;
  using MarkerBoardResult = TamoHandEye::MarkerBoardResult;

  /// `dialogs`: where every dialog goes (the real boxes and pickers when empty).
  explicit MainWindow(QWidget* parent = nullptr, std::shared_ptr<Dialogs> dialogs = nullptr);
  ~MainWindow() override;

  /// The eight robot type texts, in the order of the robot type list.
  static const QStringList& RobotTypeTexts();
  /// The marker box's entries: the centroids' centre ("同心圆", the default) and the centre fitted on the
  /// board plane ("同心圆(平面拟合)").
  static const QStringList& MarkerTypeTexts();
  /// The residual colour for t in [0, 1] (clamped): blue-green at 0, yellow at 0.5, red at 1.
  static QColor ResidualColor(double t);
  /// The numbers of a pasted text, in order.
  static std::vector<double> NumbersIn(const QString& text);

 signals:
  void signalCalculateResultSend(FinalResult result);
  void signalMarkerResultsChanged(std::vector<MarkerBoardResult> results);
  void info(QString mes);
  void warn(QString mes);
  void error(QString mes);

 public slots:
  void slotSelectImagePath2DBtn();
  void slotSelectImagePath3DBtn();
  void slotRobotParamBtn();
  void slotRobotChanged(int index);
  void slotAddBtn();
  void slotDeleteRowBtn();
  void slotExportBtn();
  void slotInputBtn();
  void slotMarkerPasteBtn();
  void slotRobotParamPastBtn();
  void slotCalculateBtn();
  void slotBruteForceCheckbox(bool on);
  void slotCalculateResult(FinalResult result);
  void slotMarkerResultsChanged(std::vector<MarkerBoardResult> results);
  void slotImageFormatChanged(int index);
  void slotRefreshImage2DList(QString dir);
  void slotSaveResultBtn();

 private:
  friend class MainWindowTester;  // the widget tests reach the form and the stored results

  /// The column headers of the parameter table for the current robot type.
  QStringList RobotHeaders() const;
  /// The column headers of the parameter table for the robot type of that catalogue text.
  static QStringList RobotHeaders(const QString& robotType);
  /// Shows and sets the unit check boxes as the robot type requires.
  void ApplyUnitBoxes(int index);
  /// Opens `folder` in the desktop's file browser.
  void OpenFolder(const QString& folder, bool sdk);
  /// "生成标记": asks for R and the paper, then where to write the PDF.
  void MakeMarker();
  /// The constructor's steps: the signal connections, the collection tab's lists and table, the residual
  /// and result views.
  void ConnectActions();
  void SetUpCollection();
  void SetUpResultViews();
  void MakePlots();  ///< the three residual plots, once

  /// Asks the operator which of two files with the same key to keep.
  std::function<bool(const QString&, const QString&)> AskReplace();
  /// Tabs "计算" and "结果" off: their content no longer matches the table.
  void DisableResultTabs();
  /// Shows a 2D list entry's image, loading it into the entry's cache the first time.
  void ShowImageItem(QListWidgetItem* item);
  /// "计算标记位置": checks the image lists, asks before overwriting, runs the batch.
  void StartMarkerComputation();
  /// Finds the marker in every image pair, on worker threads, with a cancellable progress dialog
  /// ("取消" stops at once; the pairs done by then keep their results); failures are listed at the end.
  /// Ends by sending the results.
  void ComputeMarkers(const QStringList& images, const QStringList& clouds);

  /// Writes the window's settings and `tables` to `path`; with a result's `report` (its covariance and board
  /// plane) and RMS residual, when known, their settings entries too (what a later 验证 of the file needs).
  bool WriteFile(const QString& path, const std::vector<const QTableWidget*>& tables,
                 const TamoHandEye::CalibrationReport* report = nullptr,
                 std::optional<double> rmsErrorMm = std::nullopt) const;
  enum class ReadOutcome { Read, Failed, NotParameterFile, Refused };
  /// Applies a parameter file's settings to the window and replaces the parameter table by its rows. A
  /// file whose table is not a parameter table of the robot type it names (a result file, say) changes
  /// nothing: NotParameterFile; nor does one without rows, with a row short of the table's columns or a
  /// field that is neither empty nor a number: Refused, with `why` naming the row and column.
  ReadOutcome ReadParamFile(const QString& path, QString* why = nullptr);

  /// Gives a parameter table row its paste and delete buttons.
  void MakeRowButtons(int row);
  /// The parameter table row whose cell widget is or holds `button`; -1 when none.
  int RowOfButton(const QObject* button, bool inLastColumn) const;
  /// Asks, then empties the parameter table (headers kept).
  void ClearParamList();
  /// Reads a robot data file into the robot value columns; reports a failure itself.
  bool LoadRobotData(const QString& path);

  /// Reads one parameter table row for a calculation; reports an empty or non-numeric cell itself
  /// (`recompute` selects the wording of "再计算").
  bool ReadParamRow(int row, bool recompute, TamoHandEye::MarkerBoardResult& marker, std::vector<double>& robotRow);
  /// Reads every parameter table row, as ReadParamRow does; an empty table is reported in a box titled
  /// `title`. False when a row could not be read.
  bool ReadParamTable(const QString& title, bool recompute, std::vector<TamoHandEye::MarkerBoardResult>& markers,
                      std::vector<std::vector<double>>& robotRows);
  /// The settings of a calculation from the window.
  TamoHandEye::AlgoParam Settings(bool exhaust) const;
  /// Calls the library for the robot type; stores the last result on success, reports a failure (a row
  /// named by its table row: `tableRows` gives each row's, or, when empty, row i is table row i).
  bool Calculate(int robotIndex, const std::vector<TamoHandEye::MarkerBoardResult>& markers,
                 const std::vector<std::vector<double>>& robotRows, const TamoHandEye::AlgoParam& settings,
                 const std::vector<int>& tableRows = {});
  /// The last calculation's report on the result tab: the convention found (generic types), the ± figures,
  /// the "诊断" box, and the residual rows of suspect poses highlighted; cleared when `result` is not the
  /// report's.
  void ShowReport(const FinalResult& result);
  /// "再计算": calculates again with the poses whose residual row is checked.
  void Recompute();
  /// Writes the residuals of `result` into the checked residual rows, in order.
  void RefreshAfterRecompute(const FinalResult& result);
  /// "验证": checks the table's shots against the last calculated result (or, when nothing was calculated, a
  /// result file the operator picks) and shows each shot's distance and the verdict; the result is kept.
  void Verify();
  /// The calibration "验证" checks against, in the unit of the window's rows; false when there is none or it
  /// was made for another robot type or set-up (reported).
  bool CalibrationToVerify(const TarnWorkflow::RobotType& type, const TamoHandEye::AlgoParam& settings,
                           TarnWorkflow::SavedResult& saved);
  /// Colours the residual rows: checked rows on the scale between the smallest and largest of their
  /// distances, the others grey.
  void ColourResidualRows();
  /// Puts the residuals of the checked rows into the three plots.
  void ShowPlots(const std::vector<TamoHandEye::PoseResidual>& residuals);
  /// Makes tab 1 current, enables tabs 1 and 2 and names the result boxes for the hand-eye type.
  void ShowResultTabs(int handEyeType);
  /// Fills the camera row, camera matrix and marker tables from the last result.
  void FillPoseTables();
  bool ResidualRowChecked(int row) const;
  /// The board plane the batch found for each of `tableRows` (empty: rows 0 to count − 1), where the row's marker
  /// cells still hold what it found; none where edited. Empty when no row has one.
  std::vector<TamoHandEye::ShotPlane> RowPlanes(const std::vector<int>& tableRows, std::size_t count) const;
  /// The result shown is the one the last report was made with (not one sent from elsewhere).
  bool ResultIsReported() const;
  /// "生成标定位姿": opens the plan window, its taught pose and marker from the table's first row.
  void OpenPlanDialog();
  /// Its "生成": the plan from a camera guess, the taught shot alone (a first stage), or, without a guess, from five
  /// or more complete table rows (a first stage's shots, the taught one first).
  void PlanPoses();
  /// Shows the last plan's rows and σ; `shots` the first stage's shots it came from (0: none).
  void ShowPlan(const TarnWorkflow::RobotType& type, int shots);
  /// "保存程序": the last plan as a program for the controller, the format from the file's extension.
  void SavePlan();
  /// "填入参数表": the last plan's rows into the table's robot columns (rows added as needed).
  void FillPlan();

  QString folder2D;
  QString folder3D;
  QStringList files2D;
  QStringList files3D;
  std::vector<TamoHandEye::MarkerBoardResult> markerResults;
  /// Beside markerResults: each shot's board plane when its centre was fitted (the table keeps it on the row's
  /// first cell with the texts it was found with; a row edited, pasted or loaded has none).
  std::vector<std::optional<TamoHandEye::ShotPlane>> markerPlanes;
  TamoHandEye::CameraPinhole markerPinhole;  ///< of the shots detected last; unknown (width 0) otherwise
  FinalResult lastResult{};
  TamoHandEye::CalibrationReport lastReport{};  ///< the report of the last successful calculation
  bool lastReportGeneric = false;               ///< it came from a generic robot type
  bool lastReportCentroids = false;             ///< with "同心圆" (ring centroids) selected
  std::vector<int> lastReportRows;              ///< the residual table row of each of its poses
  int calculationCount = 0;  ///< successful calculations so far: each one's number identifies its report
  int lastReportNumber = 0;  ///< the calculation lastReport belongs to
  int lastResultNumber = 0;  ///< the calculation lastResult came from (0: a result sent from elsewhere)
  int sendingNumber = 0;     ///< while this window sends its own result on: that calculation's number
  TamoHandEye::PoseSuggestions lastSuggestions;  ///< its next poses, when its report warned about the pose set
  QString lastSuggestionColumns;                 ///< their rows' columns and units
  int lastRobotIndex = -1;                       ///< the robot type of the last successful calculation
  TamoHandEye::AlgoParam lastSettings{};         ///< and its settings
  ResidualPlot* xyPlot = nullptr;
  ResidualPlot* xzPlot = nullptr;
  ResidualPlot* yzPlot = nullptr;
  QDialog* planDialog = nullptr;   ///< the plan window, made on first use
  TamoHandEye::PosePlan lastPlan;  ///< its last plan
  int lastPlanRobotIndex = -1;     ///< and the robot type it was made for
  std::unique_ptr<Ui::MainWindow> ui;
  int previousRobotIndex = 0;
  double markerRadiusMm = 40.0;  ///< "生成标记": the last choice of R
  int markerPaper = 0;           ///< and of the paper (0 A4, 1 A3, 2 Letter, 3 the sheet's own size)
  std::shared_ptr<Dialogs> dialogs;
};
