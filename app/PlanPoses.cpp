// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "Dialogs.h"
#include "WindowParts.h"
#include "ui_MainWindow.h"

#include "DataFiles.h"
#include "RobotPrograms.h"
#include "RobotTypes.h"

#include <tarn/PosePlan.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

// "生成标定位姿": the calibration's poses planned around one taught pose, before any calibration exists: shown with
// the σ expected after them, saved as a program for the controller, or put into the parameter table.

using namespace WindowParts;

namespace {

QString Joined(const std::vector<double>& values) {
  QStringList texts;
  for (const double v : values) texts << Number(v, 10);
  return texts.join(' ');
}

// The table row's cells from `first` to `last` (inclusive) as numbers; empty when one is empty or not a number.
std::vector<double> RowValues(const QTableWidget* table, int row, int first, int last) {
  std::vector<double> values;
  for (int c = first; c <= last; ++c) {
    const QTableWidgetItem* item = table->item(row, c);
    bool ok = false;
    const double v = item ? item->text().toDouble(&ok) : 0.0;
    if (!ok || !std::isfinite(v)) return {};
    values.push_back(v);
  }
  return values;
}

}  // namespace

void MainWindow::OpenPlanDialog() {
  if (planDialog == nullptr) {
    planDialog = new QDialog(this);
    planDialog->setObjectName("PlanDialog");
    planDialog->setWindowTitle("生成标定位姿");
    auto* form = new QFormLayout;
    auto* taught = new QLineEdit;
    taught->setObjectName("PlanTaught");
    taught->setToolTip("示教位姿: 机器人数据的一行 (默认取参数表第一行)");
    auto* marker = new QLineEdit;
    marker->setObjectName("PlanMarker");
    marker->setToolTip("示教位姿拍到的标记位置 X Y Z (米, 相机坐标系; 默认取参数表第一行)");
    auto* guess = new QLineEdit;
    guess->setObjectName("PlanGuess");
    guess->setPlaceholderText("可选: 相机位姿初值 (眼在手上: 在法兰下; 眼在手外: 在基座下), 格式同机器人数据");
    auto* count = new QSpinBox;
    count->setObjectName("PlanCount");
    count->setRange(2, 50);
    count->setValue(TamoHandEye::PlanOptions{}.count);
    auto* turn = new QDoubleSpinBox;
    turn->setObjectName("PlanMaxTurn");
    turn->setRange(1.0, 90.0);
    turn->setValue(TamoHandEye::PlanOptions{}.maxTurnDeg);
    turn->setSuffix("°");
    auto* fourAxis = new QCheckBox("四轴机器人 (只绕竖直轴旋转)");
    fourAxis->setObjectName("PlanFourAxis");
    auto* height = new QLineEdit;
    height->setObjectName("PlanHeight");
    height->setPlaceholderText("四轴: 标记高度 mm (眼在手外: 沿法兰 z 的偏移), 由第一阶段数据生成时需要");
    form->addRow("示教位姿:", taught);
    form->addRow("标记位置 (m):", marker);
    form->addRow("相机初值:", guess);
    form->addRow("位姿数:", count);
    form->addRow("最大转角:", turn);
    form->addRow(fourAxis);
    form->addRow("标记高度:", height);
    auto* buttons = new QHBoxLayout;
    for (const auto& [name, text] :
         {std::pair{"PlanRun", "生成"}, std::pair{"PlanSave", "保存程序"}, std::pair{"PlanFill", "填入参数表"}}) {
      auto* button = new QPushButton(text);
      button->setObjectName(name);
      buttons->addWidget(button);
    }
    auto* summary = new QLabel;
    summary->setObjectName("PlanSummary");
    summary->setWordWrap(true);
    auto* rows = new QTableWidget;
    rows->setObjectName("PlanTable");
    rows->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* layout = new QVBoxLayout(planDialog);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(summary);
    layout->addWidget(rows);
    planDialog->resize(760, 560);
    connect(planDialog->findChild<QPushButton*>("PlanRun"), &QPushButton::clicked, this, [this] { PlanPoses(); });
    connect(planDialog->findChild<QPushButton*>("PlanSave"), &QPushButton::clicked, this, [this] { SavePlan(); });
    connect(planDialog->findChild<QPushButton*>("PlanFill"), &QPushButton::clicked, this, [this] { FillPlan(); });
  }
  // The taught pose and its shot from the table's first row, where it has them.
  const QTableWidget* table = ui->ParamList;
  if (table->rowCount() > 0) {
    const std::vector<double> robot = RowValues(table, 0, kFirstRobotColumn, table->columnCount() - 2);
    const std::vector<double> point = RowValues(table, 0, 0, 2);
    if (!robot.empty()) planDialog->findChild<QLineEdit*>("PlanTaught")->setText(Joined(robot));
    if (!point.empty()) planDialog->findChild<QLineEdit*>("PlanMarker")->setText(Joined(point));
  }
  planDialog->show();
  planDialog->raise();
}

void MainWindow::PlanPoses() {
  const TarnWorkflow::RobotType* type = TarnWorkflow::RobotTypeAt(ui->RobotSelect->currentIndex());
  if (type == nullptr) return;
  const auto field = [this](const char* name) { return planDialog->findChild<QLineEdit*>(name)->text(); };
  TamoHandEye::PlanOptions options;
  options.count = planDialog->findChild<QSpinBox*>("PlanCount")->value();
  options.maxTurnDeg = planDialog->findChild<QDoubleSpinBox*>("PlanMaxTurn")->value();
  options.fourAxis = planDialog->findChild<QCheckBox*>("PlanFourAxis")->isChecked();
  if (!field("PlanHeight").trimmed().isEmpty()) {
    bool ok = false;
    options.fixedHeightMm = field("PlanHeight").toDouble(&ok);
    if (!ok) options.fixedHeightMm = std::nan("");
  }
  for (const double v : NumbersIn(field("PlanGuess"))) options.cameraGuess.push_back(v);
  options.camera = markerPinhole;
  const std::vector<TamoHandEye::ShotPlane> planes = RowPlanes({0}, 1);
  if (!planes.empty() && planes[0].hasNormal) options.boardNormal = planes[0].normal;

  // Without a guess, five or more complete table rows are a first stage's shots (the taught pose first); otherwise
  // the taught row and its marker.
  std::vector<TamoHandEye::MarkerBoardResult> markers;
  std::vector<std::vector<double>> rows;
  const QTableWidget* table = ui->ParamList;
  for (int r = 0; options.cameraGuess.empty() && r < table->rowCount(); ++r) {
    const std::vector<double> point = RowValues(table, r, 0, 2);
    const std::vector<double> robot = RowValues(table, r, kFirstRobotColumn, table->columnCount() - 2);
    if (point.empty() || robot.empty()) break;
    markers.push_back({point[0], point[1], point[2], 0.0, 0.0});
    rows.push_back(robot);
  }
  const bool fromShots = markers.size() >= TamoHandEye::kMinimumPoses;
  if (!fromShots) {
    const std::vector<double> point = NumbersIn(field("PlanMarker"));
    if (point.size() != 3) {
      dialogs->Warning(this, "生成失败", "请填写示教位姿拍到的标记位置 X Y Z (米)!", Dialogs::Button::Ok);
      return;
    }
    markers = {{point[0], point[1], point[2], 0.0, 0.0}};
    rows = {NumbersIn(field("PlanTaught"))};
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  TamoHandEye::PosePlan plan;
  const TamoHandEye::ErrorCode code =
      TamoHandEye::PlanCalibrationPoses(markers, rows, Settings(false), type->kind, options, plan);
  QApplication::restoreOverrideCursor();
  if (code != TamoHandEye::Success) {
    dialogs->Warning(this, "生成失败",
                     QString("生成标定位姿出错, 错误信息:%1\n%2")
                         .arg(QString::fromUtf8(TamoHandEye::parseCode(code)), QString::fromStdString(plan.failure)),
                     Dialogs::Button::Ok);
    return;
  }
  lastPlan = plan;
  lastPlanRobotIndex = type->index;
  ShowPlan(*type, fromShots ? static_cast<int>(markers.size()) : 0);
}

void MainWindow::ShowPlan(const TarnWorkflow::RobotType& type, int shots) {
  const TamoHandEye::PosePlan& plan = lastPlan;
  QString summary;
  if (plan.firstStage) {
    summary = QString("第一阶段 (未给相机初值): %1 个位姿。依次采集后将数据填入参数表 (示教位姿为第一行), 再点“生成”。")
                  .arg(plan.poses.size());
  } else {
    summary = QString("%1%2 个位姿, 全部完成后预计相机平移 σ %3 mm, 旋转 σ %4° (单次测量噪声 %5 mm); 标记保持在%6内。")
                  .arg(shots > 0 ? QString("由参数表中已有的 %1 组数据求得相机后生成: ").arg(shots) : QString())
                  .arg(plan.poses.size())
                  .arg(Fixed(plan.sigmaMm, 3), Fixed(plan.sigmaDeg, 4), Fixed(plan.noiseMm, 2),
                       plan.inImage ? "图像" : "视野锥");
  }
  if (!plan.failure.empty()) summary += "\n注意: " + QString::fromStdString(plan.failure);
  summary += "\n运行前请检查可达性和碰撞!";
  planDialog->findChild<QLabel*>("PlanSummary")->setText(summary);
  auto* table = planDialog->findChild<QTableWidget*>("PlanTable");
  QStringList headers = ToQt(type.ColumnNames());
  headers << "转角(°)"
          << "σ(mm)";
  table->clear();
  table->setColumnCount(headers.size());
  table->setHorizontalHeaderLabels(headers);
  table->setRowCount(static_cast<int>(plan.poses.size()));
  for (int r = 0; r < table->rowCount(); ++r) {
    const TamoHandEye::PlannedPose& p = At(plan.poses, r);
    int c = 0;
    for (const double v : p.row) table->setItem(r, c++, new QTableWidgetItem(Fixed(v, 3)));
    table->setItem(r, c++, new QTableWidgetItem(Fixed(p.turnDeg, 1)));
    table->setItem(r, c, new QTableWidgetItem(p.sigmaMmAfter > 0.0 ? Fixed(p.sigmaMmAfter, 3) : QString("-")));
  }
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

void MainWindow::SavePlan() {
  const TarnWorkflow::RobotType* type = TarnWorkflow::RobotTypeAt(lastPlanRobotIndex);
  if (type == nullptr || lastPlan.poses.empty()) {
    dialogs->Warning(this, "保存失败", "请先生成标定位姿!", Dialogs::Button::Ok);
    return;
  }
  const QString path = dialogs->SaveFile(
      this, "保存机器人程序", "FANUC (*.ls);;KUKA (*.src);;ABB (*.mod);;UR (*.script);;YASKAWA (*.JBI);;CSV (*.csv)");
  if (path.isEmpty()) return;
  const auto format = TarnWorkflow::ProgramFormatOf("." + QFileInfo(path).suffix().toStdString());
  if (!format) {
    dialogs->Warning(this, "保存失败", "文件扩展名须为 .ls、.src、.mod、.script、.JBI 或 .csv!", Dialogs::Button::Ok);
    return;
  }
  const bool metres = TamoHandEye::RowsInMetres(type->kind, Settings(false).IsMeter);
  std::vector<std::array<double, 16>> flanges;
  std::vector<std::vector<double>> rows;
  for (const TamoHandEye::PlannedPose& pose : lastPlan.poses) {
    std::array<double, 16> flange = pose.matrix;
    for (const std::size_t k : {3u, 7u, 11u}) flange[k] *= metres ? 1000.0 : 1.0;
    flanges.push_back(flange);
    rows.push_back(pose.row);
  }
  TarnWorkflow::ProgramOptions program;
  program.comments = TarnWorkflow::PlanComments(lastPlan, *type);
  std::string why;
  if (!TarnWorkflow::ReplaceFile(LocalPath(path), TarnWorkflow::WriteProgram(*format, flanges, *type, rows, program),
                                 &why)) {
    dialogs->Warning(this, "保存失败", "文件写入失败: " + QString::fromStdString(why), Dialogs::Button::Ok);
    return;
  }
  dialogs->Information(this, "提示", "程序已保存, 运行前请检查可达性和碰撞.", Dialogs::Button::Ok);
}

void MainWindow::FillPlan() {
  if (lastPlan.poses.empty() || lastPlanRobotIndex != ui->RobotSelect->currentIndex()) {
    dialogs->Warning(this, "填入失败", "请先以当前机器人类型生成标定位姿!", Dialogs::Button::Ok);
    return;
  }
  QTableWidget* table = ui->ParamList;
  if (table->rowCount() > 0 && table->item(0, kFirstRobotColumn) != nullptr &&
      !dialogs->Confirm(this, "此操作将会覆盖参数列表的部分数据")) {
    return;
  }
  while (table->rowCount() < static_cast<int>(lastPlan.poses.size())) {
    table->insertRow(table->rowCount());
    MakeRowButtons(table->rowCount() - 1);
  }
  for (int r = 0; r < static_cast<int>(lastPlan.poses.size()); ++r) {
    const std::vector<double>& row = At(lastPlan.poses, r).row;
    for (int c = 0; c < static_cast<int>(row.size()); ++c) {
      table->setItem(r, kFirstRobotColumn + c, new QTableWidgetItem(Number(At(row, c), 10)));
    }
  }
}
