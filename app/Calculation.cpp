// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "Dialogs.h"
#include "ResidualPlot.h"
#include "WindowParts.h"
#include "ui_MainWindow.h"

#include "Report.h"
#include "Suggestion.h"

#include <tarn/ErrorCode.h>

#include <QApplication>
#include <QCheckBox>

#include <cmath>
#include <limits>
#include <random>

// Calculation and its display: reading the parameter table, solving, the residual table, its colours and
// plots, "再计算", and the result tab's pose tables.

using namespace WindowParts;

bool MainWindow::ReadParamRow(int row, bool recompute, TamoHandEye::MarkerBoardResult& marker,
                              std::vector<double>& robotRow) {
  const QTableWidget* table = ui->ParamList;
  std::vector<int> columns{0, 1, 2};
  for (int c = kFirstRobotColumn; c < table->columnCount() - 1; ++c) columns.push_back(c);
  std::vector<double> values;
  for (int column : columns) {
    const QTableWidgetItem* item = table->item(row, column);
    const QString text = item ? item->text() : QString();
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (text.isEmpty() || !ok || !std::isfinite(value)) {
      const QString what = text.isEmpty() ? "数据为空!" : "数据不是有效数字!";
      if (recompute) {
        dialogs->Warning(this, "警告", QString("第%1行第%2列").arg(row + 1).arg(column + 1) + what);
      } else {
        dialogs->Warning(this, "计算失败", QString("第%1行%2列").arg(row + 1).arg(column + 1) + what,
                         Dialogs::Button::Ok);
      }
      return false;
    }
    values.push_back(value);
  }
  marker = TamoHandEye::MarkerBoardResult{};
  marker.x = values[0];
  marker.y = values[1];
  marker.z = values[2];
  robotRow.assign(values.begin() + 3, values.end());
  return true;
}

TamoHandEye::AlgoParam MainWindow::Settings(bool exhaust) const {
  TamoHandEye::AlgoParam settings;
  settings.HandEyeType = ui->AlgoType0->isChecked() ? 0 : 1;
  settings.IsMeter = ui->CheckBoxIsm->isChecked();
  settings.IsRadian = ui->CheckBoxRadian->isChecked();
  settings.Exhaust = exhaust;
  settings.RansacDist = ui->DSpinBoxMaxDist->value();
  return settings;
}

bool MainWindow::Calculate(int robotIndex, const std::vector<TamoHandEye::MarkerBoardResult>& markers,
                           const std::vector<std::vector<double>>& robotRows, const TamoHandEye::AlgoParam& settings,
                           const std::vector<int>& tableRows) {
  const TarnWorkflow::RobotType* type = TarnWorkflow::RobotTypeAt(robotIndex);
  if (type == nullptr) {
    emit error("不存在的机器人类型!");
    return false;
  }
  if (std::optional<TarnWorkflow::UnusableRow> unusable = TarnWorkflow::FindUnusableRow(*type, robotRows)) {
    unusable->row = tableRows.empty() ? unusable->row : static_cast<std::size_t>(tableRows.at(unusable->row));
    emit warn(QString::fromStdString(unusable->MessageZh()) + "!");
    return false;
  }
  // The solve needs five poses; say so rather than that the equations failed.
  if (!markers.empty() && markers.size() < TamoHandEye::kMinimumPoses) {
    emit warn(QString("至少需要%1个位姿, 当前%2个").arg(TamoHandEye::kMinimumPoses).arg(markers.size()));
    return false;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // The pose search keeps its seed from the system's random device, as the entry point's; the report comes
  // with the same result.
  TamoHandEye::ReportOptions report;
  report.seed = std::random_device{}();
  report.toleranceMm = ui->DSpinBoxToleranceMm->value();
  report.toleranceDeg = ui->DSpinBoxToleranceDeg->value();
  // Each row's board normal from the batch, where the row still holds what the batch found.
  report.shots = RowPlanes(tableRows, markers.size());
  const TarnWorkflow::Calibration calibration = TarnWorkflow::Calibrate(*type, markers, robotRows, settings, report);
  QApplication::restoreOverrideCursor();
  if (calibration.code != 0) {
    emit warn(QString("计算出错, 错误信息:%1").arg(QString::fromUtf8(TamoHandEye::parseCode(calibration.code))));
    return false;
  }
  lastResult = calibration.result;
  lastReport = calibration.report;
  lastReportNumber = ++calculationCount;
  lastResultNumber = lastReportNumber;
  lastReportCentroids = ui->MakerSelect->currentIndex() == 0;  // "同心圆": ring centroids
  lastReportGeneric = TamoHandEye::IsGeneric(type->kind);
  lastRobotIndex = robotIndex;
  lastSettings = settings;
  // A pose set the report warns about: the next poses that would help most.
  lastSuggestions = {};
  lastSuggestionColumns.clear();
  TamoHandEye::SuggestOptions next;
  next.seed = report.seed;  // the same poses dropped as the calculation's
  next.camera = markerPinhole;
  next.shots = report.shots;  // scored with the rows' normals, as the calculation solved
  if (TarnWorkflow::WarnsAboutPoseSet(lastReport) &&
      TamoHandEye::SuggestNextPoses(markers, robotRows, settings, type->kind, next, lastSuggestions) ==
          TamoHandEye::Success) {
    lastSuggestionColumns = QString::fromStdString(TarnWorkflow::RowColumns(*type, settings));
  }
  return true;
}

bool MainWindow::ReadParamTable(const QString& title, bool recompute,
                                std::vector<TamoHandEye::MarkerBoardResult>& markers,
                                std::vector<std::vector<double>>& robotRows) {
  const int rows = ui->ParamList->rowCount();
  if (rows == 0) {
    dialogs->Warning(this, title, "数据不能为空!", Dialogs::Button::Ok);
    return false;
  }
  markers.assign(static_cast<std::size_t>(rows), {});
  robotRows.assign(static_cast<std::size_t>(rows), {});
  for (int i = 0; i < rows; ++i) {
    if (!ReadParamRow(i, recompute, At(markers, i), At(robotRows, i))) return false;
  }
  return true;
}

void MainWindow::slotCalculateBtn() {
  std::vector<TamoHandEye::MarkerBoardResult> markers;
  std::vector<std::vector<double>> robotRows;
  if (!ReadParamTable("计算失败", false, markers, robotRows)) return;
  const int rows = ui->ParamList->rowCount();
  const TamoHandEye::AlgoParam settings = Settings(ui->CheckBoxExhaust->isChecked());
  if (!Calculate(ui->RobotSelect->currentIndex(), markers, robotRows, settings)) return;
  lastReportRows.resize(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) At(lastReportRows, i) = i;
  ShowResultTabs(settings.HandEyeType);
  sendingNumber = lastReportNumber;
  emit signalCalculateResultSend(lastResult);
  sendingNumber = 0;
}

bool MainWindow::ResultIsReported() const { return lastResultNumber != 0 && lastResultNumber == lastReportNumber; }

bool MainWindow::ResidualRowChecked(int row) const {
  const auto* box = qobject_cast<const QCheckBox*>(ui->TableWidgetResidual->cellWidget(row, 0));
  return box && box->isChecked();
}

void MainWindow::Recompute() {
  std::vector<TamoHandEye::MarkerBoardResult> markers;
  std::vector<std::vector<double>> robotRows;
  std::vector<int> tableRows;
  for (int i = 0; i < ui->TableWidgetResidual->rowCount(); ++i) {
    if (!ResidualRowChecked(i)) continue;
    TamoHandEye::MarkerBoardResult marker;
    std::vector<double> row;
    if (!ReadParamRow(i, true, marker, row)) return;
    markers.push_back(marker);
    robotRows.push_back(row);
    tableRows.push_back(i);
  }
  const TamoHandEye::AlgoParam settings = Settings(false);
  if (!Calculate(ui->RobotSelect->currentIndex(), markers, robotRows, settings, tableRows)) return;
  lastReportRows = tableRows;
  ShowResultTabs(settings.HandEyeType);
  RefreshAfterRecompute(lastResult);
}

namespace {

const QColor kNotTakingPart(200, 200, 200);

void SetResidualItems(QTableWidget* table, int row, const TamoHandEye::PoseResidual& residual) {
  const double values[4] = {residual.distance, residual.dx, residual.dy, residual.dz};
  for (int c = 0; c < 4; ++c) table->setItem(row, c + 1, new QTableWidgetItem(Number(values[c], 6)));
  table->item(row, 1)->setData(Qt::UserRole, residual.distance);  // the colour scale uses every digit
}

}  // namespace

void MainWindow::slotCalculateResult(FinalResult result) {
  lastResult = result;
  lastResultNumber = sendingNumber;
  QTableWidget* table = ui->TableWidgetResidual;
  const int rows = static_cast<int>(result.residuals.size());
  table->setRowCount(rows);
  std::vector<TamoHandEye::PoseResidual> shown;
  for (int i = 0; i < rows; ++i) {
    auto* box = new QCheckBox(QString::number(i + 1));
    box->setChecked(result.mask.empty() || (static_cast<size_t>(i) < result.mask.size() && At(result.mask, i) != 0));
    table->setCellWidget(i, 0, box);
    SetResidualItems(table, i, At(result.residuals, i));
    if (box->isChecked()) shown.push_back(At(result.residuals, i));
  }
  ColourResidualRows();
  ui->LabelMax->setText(Number(result.maxError, 6));
  ui->LabelRMS->setText(Number(result.rmsError, 6));
  ShowPlots(shown);
  FillPoseTables();
  ShowReport(result);
}

void MainWindow::RefreshAfterRecompute(const FinalResult& result) {
  QTableWidget* table = ui->TableWidgetResidual;
  size_t next = 0;
  for (int i = 0; i < table->rowCount(); ++i) {
    if (ResidualRowChecked(i)) {
      if (next < result.residuals.size()) SetResidualItems(table, i, result.residuals[next++]);
      continue;
    }
    for (int c = 1; c <= 4; ++c) {
      if (QTableWidgetItem* item = table->item(i, c)) item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
    }
  }
  ColourResidualRows();
  ui->LabelMax->setText(Number(result.maxError, 6));
  ui->LabelRMS->setText(Number(result.rmsError, 6));
  ShowPlots(result.residuals);
  FillPoseTables();
  ShowReport(result);
}

QColor MainWindow::ResidualColor(double t) {
  if (!(t > 0.0)) t = 0.0;  // also NaN
  if (t > 1.0) t = 1.0;
  if (t < 0.5) {
    return QColor(static_cast<int>(2.0 * t * 255.0), 255, 128 - static_cast<int>(2.0 * t * 128.0), 255);
  }
  return QColor(255, 255 - static_cast<int>((t - 0.5) * 2.0 * 255.0), 0, 255);
}

void MainWindow::ColourResidualRows() {
  QTableWidget* table = ui->TableWidgetResidual;
  auto distance = [table](int row) {
    const QTableWidgetItem* item = table->item(row, 1);
    return item ? item->data(Qt::UserRole).toDouble() : 0.0;
  };
  double smallest = std::numeric_limits<double>::max();
  double largest = std::numeric_limits<double>::min();
  for (int i = 0; i < table->rowCount(); ++i) {
    if (!ResidualRowChecked(i)) continue;
    smallest = std::min(smallest, distance(i));
    largest = std::max(largest, distance(i));
  }
  for (int i = 0; i < table->rowCount(); ++i) {
    // All taking part rows equally far: the low end of the scale.
    const double t = largest > smallest ? (distance(i) - smallest) / (largest - smallest) : 0.0;
    const QColor colour = ResidualRowChecked(i) ? ResidualColor(t) : kNotTakingPart;
    for (int c = 1; c <= 4; ++c) {
      if (QTableWidgetItem* item = table->item(i, c)) item->setBackground(colour);
    }
  }
}

void MainWindow::ShowPlots(const std::vector<TamoHandEye::PoseResidual>& residuals) {
  QVector<QPointF> xy, xz, yz;
  for (const TamoHandEye::PoseResidual& r : residuals) {
    xy << QPointF(r.dx, r.dy);
    xz << QPointF(r.dx, r.dz);
    yz << QPointF(r.dy, r.dz);
  }
  MakePlots();
  xyPlot->Show(xy);
  xzPlot->Show(xz);
  yzPlot->Show(yz);
}

void MainWindow::ShowResultTabs(int handEyeType) {
  ui->tabWidget->setTabEnabled(1, true);
  ui->tabWidget->setTabEnabled(2, true);
  ui->tabWidget->setCurrentIndex(1);
  const bool eyeInHand = handEyeType == 0;
  ui->GroupBoxCamera->setTitle(eyeInHand ? "相机在法兰下的位姿" : "相机在基座下的位姿");
  ui->GroupBoxMarker->setTitle(eyeInHand ? "标记在基座下的位姿" : "标记在法兰下的位姿");
}

void MainWindow::FillPoseTables() {
  QStringList headers{"X", "Y", "Z", "R1", "R2", "R3"};
  if (lastResult.cameraPose.size() == 7) headers << "R4";
  QTableWidget* pose = ui->TableWidgetZV;
  pose->setColumnCount(headers.size());
  pose->setHorizontalHeaderLabels(headers);
  pose->setRowCount(1);
  for (int c = 0; c < static_cast<int>(lastResult.cameraPose.size()) && c < headers.size(); ++c) {
    pose->setItem(0, c, new QTableWidgetItem(Number(At(lastResult.cameraPose, c), 6)));
  }
  QTableWidget* matrix = ui->TableWidgetZ;
  for (int j = 0; j < static_cast<int>(lastResult.cameraMatrix.size()) && j < matrix->rowCount(); ++j) {
    const std::vector<double>& row = At(lastResult.cameraMatrix, j);
    for (int k = 0; k < static_cast<int>(row.size()) && k < matrix->columnCount(); ++k) {
      matrix->setItem(j, k, new QTableWidgetItem(Number(At(row, k), 6)));
    }
  }
  QTableWidget* marker = ui->TableWidgetX;
  marker->setRowCount(1);
  for (int c = 0; c < static_cast<int>(lastResult.markerPosition.size()) && c < marker->columnCount(); ++c) {
    marker->setItem(0, c, new QTableWidgetItem(Number(At(lastResult.markerPosition, c), 6)));
  }
}
