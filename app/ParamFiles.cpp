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

}  // namespace

bool MainWindow::WriteFile(const QString& path, const std::vector<const QTableWidget*>& tables,
                           const TamoHandEye::CalibrationCovariance* covariance) const {
  TarnWorkflow::FileSettings settings;
  if (covariance != nullptr && covariance->known) settings.covariance = *covariance;
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

MainWindow::ReadOutcome MainWindow::ReadParamFile(const QString& path) {
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
  table->setRowCount(static_cast<int>(content.rows.size()));
  for (int r = 0; r < table->rowCount(); ++r) {
    const QStringList parts = QString::fromStdString(At(content.rows, r)).split(",");
    for (int j = 0; j <= parts.size() - 3 && j < table->columnCount(); ++j) {
      bool ok = false;
      parts[j].toDouble(&ok);
      if (j != 3 && ok) table->setItem(r, j, new QTableWidgetItem(parts[j]));
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
  switch (ReadParamFile(path)) {
    case ReadOutcome::Read: break;
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
  // The report's covariance, when it belongs to the result shown: what a later 验证 needs.
  const bool reported = ResultIsReported();
  if (WriteFile(path, {ui->TableWidgetZV, ui->TableWidgetZ, ui->TableWidgetX},
                reported ? &lastReport.covariance : nullptr)) {
    dialogs->Information(this, "提示", "数据导出成功.", Dialogs::Button::Ok);
  } else {
    dialogs->Warning(this, "警告", "数据导出失败!", Dialogs::Button::Ok);
  }
}
