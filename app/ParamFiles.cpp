// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "Dialogs.h"
#include "WindowParts.h"
#include "ui_MainWindow.h"

#include "SettingsFile.h"

#include <algorithm>
#include <optional>

// The parameter and result file: "导出" and "导入" of the parameter table, "保存" of the result.

using namespace WindowParts;

namespace {

TarnWorkflow::FileTable TableOf(const QTableWidget* table) {
  TarnWorkflow::FileTable file;
  for (int c = 0; c < table->columnCount(); ++c) {
    const QTableWidgetItem* header = table->horizontalHeaderItem(c);
    file.headers.push_back(header ? header->text().toStdString() : std::string());
  }
  for (int r = 0; r < table->rowCount(); ++r) {
    std::vector<std::string>& row = file.rows.emplace_back();
    for (int c = 0; c < table->columnCount(); ++c) {
      const QTableWidgetItem* item = table->item(r, c);
      row.push_back(item ? item->text().toStdString() : std::string());
    }
  }
  return file;
}

// Why the rows cannot replace a parameter table of `columns` columns (the last one the buttons'), or
// nothing: every row has a field for each column up to the last robot value, each empty or a number.
std::optional<QString> RowsProblem(const std::vector<std::string>& rows, int columns) {
  if (rows.empty()) return QString("文件没有数据行, 未导入任何数据!");
  if (rows.size() > static_cast<std::size_t>(kMostTableRows)) {
    return QString("文件有%1行, 多于表格最多的%2行, 未导入任何数据!").arg(rows.size()).arg(kMostTableRows);
  }
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const QStringList parts = QString::fromStdString(At(rows, r)).split(",");
    const int fields = static_cast<int>(parts.size()) - (parts.last().isEmpty() ? 1 : 0);  // each field ends in ","
    if (fields < columns - 1) {
      return QString("第%1行只有%2列, 少于表格的%3列, 未导入任何数据!").arg(r + 1).arg(fields).arg(columns - 1);
    }
    for (int j = 0; j < columns - 1; ++j) {
      bool ok = false;
      parts[j].toDouble(&ok);
      if (j != kMarkerPasteColumn && !ok && !parts[j].trimmed().isEmpty()) {
        return QString("第%1行第%2列不是数字, 未导入任何数据!").arg(r + 1).arg(j + 1);
      }
    }
  }
  return std::nullopt;
}

}  // namespace

bool MainWindow::WriteFile(const QString& path, const std::vector<const QTableWidget*>& tables,
                           const TamoHandEye::CalibrationReport* report, std::optional<double> rmsErrorMm) const {
  TarnWorkflow::FileSettings settings;
  if (report != nullptr && report->covariance.known) settings.covariance = report->covariance;
  if (report != nullptr && report->model != "point" && report->board.normalFreedom > 0) {
    settings.board = std::pair{report->model, report->board};
  }
  if (rmsErrorMm) settings.rmsErrorMm = *rmsErrorMm;
  settings.handEyeType = ui->AlgoType0->isChecked() ? 0 : 1;
  settings.robotType = ui->RobotSelect->currentText().toStdString();
  settings.markerType = ui->MakerSelect->currentText().toStdString();
  settings.isMeter = ui->CheckBoxIsm->isChecked();
  settings.isRadian = ui->CheckBoxRadian->isChecked();
  settings.exhaust = ui->CheckBoxExhaust->isChecked();
  settings.ransacDist = ui->DSpinBoxMaxDist->value();
  std::vector<TarnWorkflow::FileTable> files;
  for (const QTableWidget* table : tables) files.push_back(TableOf(table));
  return TarnWorkflow::WriteSettingsFile(LocalPath(path), settings, files);
}

MainWindow::ReadOutcome MainWindow::ReadParamFile(const QString& path, QString* why) {
  TarnWorkflow::SettingsFileContent content;
  if (!TarnWorkflow::ReadSettingsFile(LocalPath(path), content)) return ReadOutcome::Failed;
  const auto find = [&content](const char* key, QString& value) {
    const std::optional<std::string> found = content.Find(key);
    if (found) value = QString::fromStdString(*found);
    return found.has_value();
  };
  QString value;
  // The table must be the parameter table of the robot type the file names (an unknown or missing
  // type reads as the first), before anything is applied: a result file's tables would put the camera
  // row and matrix into the pose rows.
  const int index =
      find("RobotType", value) ? std::max(0, RobotTypeTexts().indexOf(value)) : ui->RobotSelect->currentIndex();
  QStringList header = QString::fromStdString(content.tableHeader).split(",");
  if (!header.isEmpty() && header.last().isEmpty()) header.removeLast();
  if (header != RobotHeaders(RobotTypeTexts().value(index))) return ReadOutcome::NotParameterFile;
  // The whole file is checked before anything changes: no cell of the table before stays beside the file's.
  if (const std::optional<QString> problem = RowsProblem(content.rows, static_cast<int>(header.size()))) {
    if (why != nullptr) *why = *problem;
    return ReadOutcome::Refused;
  }

  if (find("RobotType", value)) {
    const int before = ui->RobotSelect->currentIndex();
    ui->RobotSelect->setCurrentIndex(index);
    if (index != before && ui->RobotSelect->currentIndex() == before) return ReadOutcome::Failed;  // refused
  }
  // Files written before the fitted centre existed were made with the centroids: "同心圆".
  ui->MakerSelect->setCurrentIndex(find("MarkerType", value) ? std::max(0, MarkerTypeTexts().indexOf(value)) : 0);
  if (find("HandEyeType", value)) (value.toInt() != 0 ? ui->AlgoType1 : ui->AlgoType0)->setChecked(true);
  if (find("IsMeter", value)) ui->CheckBoxIsm->setChecked(value.toInt() != 0);
  if (find("IsRadian", value)) ui->CheckBoxRadian->setChecked(value.toInt() != 0);
  if (find("Exhaust", value)) ui->CheckBoxExhaust->setChecked(value.toInt() != 0);
  if (find("RansacDist", value)) ui->DSpinBoxMaxDist->setValue(value.toDouble());
  markerResults.clear();
  markerPinhole = {};

  QTableWidget* table = ui->ParamList;
  table->clearContents();
  table->setRowCount(static_cast<int>(content.rows.size()));
  for (int r = 0; r < table->rowCount(); ++r) {
    const QStringList parts = QString::fromStdString(At(content.rows, r)).split(",");
    for (int j = 0; j < table->columnCount() - 1; ++j) {
      if (j != kMarkerPasteColumn && !parts[j].trimmed().isEmpty())
        table->setItem(r, j, new QTableWidgetItem(parts[j]));
    }
  }
  return ReadOutcome::Read;
}

void MainWindow::slotExportBtn() {
  const QString path = dialogs->SaveFile(this, "选择保存路径", "Robot Data Files (*.csv)");
  if (path.isEmpty()) return;
  if (WriteFile(path, {ui->ParamList})) {
    dialogs->Information(this, "提示", "数据导出成功.", Dialogs::Button::Ok);
  } else {
    dialogs->Warning(this, "警告", "数据保存失败!", Dialogs::Button::Ok);
  }
}

void MainWindow::slotInputBtn() {
  const QString path = dialogs->OpenFile(this, "选择导入数据", "Robot Data Files (*.txt *.data *.csv)");
  if (path.isEmpty()) return;
  QString why;
  switch (ReadParamFile(path, &why)) {
    case ReadOutcome::Read: break;
    case ReadOutcome::Refused: dialogs->Warning(this, "提示", why, Dialogs::Button::Ok); return;
    case ReadOutcome::Failed: dialogs->Warning(this, "提示", "文件读取失败", Dialogs::Button::Ok); return;
    case ReadOutcome::NotParameterFile:
      dialogs->Warning(this, "提示", "文件不是参数文件,未导入任何数据!", Dialogs::Button::Ok);
      return;
  }
  for (int r = 0; r < ui->ParamList->rowCount(); ++r) MakeRowButtons(r);
  DisableResultTabs();
}

void MainWindow::slotSaveResultBtn() {
  const QString path = dialogs->SaveFile(this, "选择保存路径", "Robot Data Files (*.csv)");
  if (path.isEmpty()) return;
  // The report's covariance and board plane, when it belongs to the result shown: what a later 验证 needs.
  const bool reported = ResultIsReported();
  if (WriteFile(path, {ui->TableWidgetZV, ui->TableWidgetZ, ui->TableWidgetX}, reported ? &lastReport : nullptr,
                lastResult.cameraMatrix.empty() ? std::nullopt : std::optional<double>(lastResult.rmsError))) {
    dialogs->Information(this, "提示", "数据导出成功.", Dialogs::Button::Ok);
  } else {
    dialogs->Warning(this, "警告", "数据导出失败!", Dialogs::Button::Ok);
  }
}
