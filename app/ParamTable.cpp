// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "Dialogs.h"
#include "WindowParts.h"
#include "ui_MainWindow.h"

#include "Tables.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRegExp>

#include <algorithm>

// The parameter table: its rows and their buttons, pasting, and the robot data file.

using namespace WindowParts;

void MainWindow::slotRobotParamBtn() {
  QString path = dialogs->OpenFile(this, "选择机器人数据", "Robot Data Files (*.txt *.data *.csv)");
  if (path.isEmpty()) return;
  ui->RobotParamEdit->setText(path);
  path = ui->RobotParamEdit->text();
  if (path.isEmpty()) return;
  QTableWidget* table = ui->ParamList;
  if (table->rowCount() > 0 && table->item(0, kFirstRobotColumn) != nullptr &&
      !dialogs->Confirm(this, "此操作将会覆盖参数列表的部分数据")) {
    return;
  }
  LoadRobotData(path);
}

bool MainWindow::LoadRobotData(const QString& path) {
  QTableWidget* table = ui->ParamList;
  const int robotValues = table->columnCount() - 1 - kFirstRobotColumn;
  std::vector<std::vector<double>> rows;
  std::vector<std::vector<std::string>> words;
  TarnWorkflow::DataFileError error;
  const std::string typeName = ui->RobotSelect->currentText().toStdString();
  if (!TarnWorkflow::ReadRobotTable(LocalPath(path), static_cast<std::size_t>(robotValues), typeName, rows, error,
                                    &words)) {
    using Kind = TarnWorkflow::DataFileError::Kind;
    const char* text = "文件数据错误,请检查文件数据是否正确！";
    if (error.kind == Kind::CannotOpen) text = "文件打开失败！";
    if (error.kind == Kind::Empty) text = "文件格式为空！";
    if (error.kind == Kind::WrongCount) text = "文件数据和机器人不匹配,请检查机器人型号和文件是否正确！";
    dialogs->Warning(this, "警告", text, Dialogs::Button::Ok);
    return false;
  }
  if (words.size() > static_cast<std::size_t>(kMostTableRows)) {
    dialogs->Warning(this, "警告", QString("文件有%1行, 多于表格最多的%2行!").arg(words.size()).arg(kMostTableRows),
                     Dialogs::Button::Ok);
    return false;
  }
  while (table->rowCount() < static_cast<int>(words.size())) {
    table->insertRow(table->rowCount());
    MakeRowButtons(table->rowCount() - 1);
  }
  for (int i = 0; i < static_cast<int>(words.size()); ++i) {
    for (int j = 0; j < robotValues; ++j) {
      table->setItem(i, kFirstRobotColumn + j, new QTableWidgetItem(QString::fromStdString(At(At(words, i), j))));
    }
  }
  return true;
}

void MainWindow::MakeRowButtons(int row) {
  QTableWidget* table = ui->ParamList;
  auto* markerPaste = new QPushButton("粘贴");
  connect(markerPaste, &QPushButton::clicked, this, &MainWindow::slotMarkerPasteBtn);
  table->setCellWidget(row, kMarkerPasteColumn, markerPaste);

  auto* cell = new QWidget;
  auto* layout = new QHBoxLayout(cell);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addSpacing(0);
  auto* robotPaste = new QPushButton("粘贴", cell);
  auto* remove = new QPushButton("删除", cell);
  for (QPushButton* button : {robotPaste, remove}) {
    button->setMinimumSize(40, 30);
    layout->addWidget(button);
  }
  connect(robotPaste, &QPushButton::clicked, this, &MainWindow::slotRobotParamPastBtn);
  connect(remove, &QPushButton::clicked, this, &MainWindow::slotDeleteRowBtn);
  table->setCellWidget(row, table->columnCount() - 1, cell);
  table->setRowHeight(row, std::max(table->rowHeight(row), cell->sizeHint().height()));
}

int MainWindow::RowOfButton(const QObject* button, bool inLastColumn) const {
  // Found by identity rather than by position, so a row scrolled partly out of view still answers.
  const QTableWidget* table = ui->ParamList;
  const QObject* cell = inLastColumn && button ? button->parent() : button;
  const int column = inLastColumn ? table->columnCount() - 1 : kMarkerPasteColumn;
  for (int row = 0; cell && row < table->rowCount(); ++row) {
    if (table->cellWidget(row, column) == cell) return row;
  }
  return -1;
}

std::vector<double> MainWindow::NumbersIn(const QString& text) {
  // Signed decimals and integers among any other characters. A leading "0." needs a real dot, and
  // "-0.000" is one number (controllers print it).
  QRegExp number("-?[1-9]\\d*\\.\\d*|0+\\.[0-9]+|-?0\\.\\d+|-?\\d+");
  std::vector<double> numbers;
  for (int at = number.indexIn(text, 0); at != -1; at = number.indexIn(text, at + number.matchedLength())) {
    numbers.push_back(number.cap(0).toDouble());
  }
  return numbers;
}

void MainWindow::slotMarkerPasteBtn() {
  const int row = RowOfButton(sender(), false);
  if (row < 0) return;
  const std::vector<double> numbers = NumbersIn(QApplication::clipboard()->text());
  for (int i = 0; i < 3 && i < static_cast<int>(numbers.size()); ++i) {
    ui->ParamList->setItem(row, i, new QTableWidgetItem(Number(At(numbers, i), 10)));
  }
}

void MainWindow::slotRobotParamPastBtn() {
  const int row = RowOfButton(sender(), true);
  if (row < 0) return;
  const std::vector<double> numbers = NumbersIn(QApplication::clipboard()->text());
  QTableWidget* table = ui->ParamList;
  for (int i = 0; i < static_cast<int>(numbers.size()) && kFirstRobotColumn + i < table->columnCount() - 1; ++i) {
    table->setItem(row, kFirstRobotColumn + i, new QTableWidgetItem(Number(At(numbers, i), 10)));
  }
}

void MainWindow::slotAddBtn() {
  QTableWidget* table = ui->ParamList;
  table->insertRow(table->rowCount());
  MakeRowButtons(table->rowCount() - 1);
}

void MainWindow::slotDeleteRowBtn() {
  const int row = RowOfButton(sender(), true);
  if (row < 0 || !dialogs->Confirm(this, QString("确定要删除第%1行吗?").arg(row + 1))) return;
  ui->ParamList->removeRow(row);
  DisableResultTabs();
}

void MainWindow::ClearParamList() {
  QTableWidget* table = ui->ParamList;
  if (table->rowCount() == 0 || !dialogs->Confirm(this, "确定清空数据吗?")) return;
  QStringList headers;
  for (int c = 0; c < table->columnCount(); ++c) {
    const QTableWidgetItem* header = table->horizontalHeaderItem(c);
    headers << (header ? header->text() : QString());
  }
  table->clear();
  markerResults.clear();
  markerPinhole = {};
  DisableResultTabs();
  table->setRowCount(0);
  table->setColumnCount(headers.size());
  table->setHorizontalHeaderLabels(headers);
}

namespace WindowParts {
namespace {
// Where a row's first marker cell keeps its shot's board plane (22 numbers) and the marker texts it was found with.
constexpr int kPlaneRole = Qt::UserRole + 11;
constexpr int kPlaneTextsRole = Qt::UserRole + 12;
}  // namespace

void SetRowPlane(QTableWidgetItem& item, const TamoHandEye::ShotPlane& plane, const QStringList& texts) {
  QVariantList values;
  for (const double v : plane.normal) values << v;
  for (const double v : plane.normalAxes) values << v;
  for (const double v : plane.normalCovariance) values << v;
  for (const double v : plane.centreCovariance) values << v;
  item.setData(kPlaneRole, values);
  item.setData(kPlaneTextsRole, texts);
}

bool RowPlaneOf(const QTableWidgetItem* item, const QStringList& texts, TamoHandEye::ShotPlane& plane) {
  if (item == nullptr || item->data(kPlaneTextsRole).toStringList() != texts) return false;
  const QVariantList values = item->data(kPlaneRole).toList();
  if (values.size() != 22) return false;
  plane = {};
  plane.hasNormal = true;
  int k = 0;
  for (double& v : plane.normal) v = values[k++].toDouble();
  for (double& v : plane.normalAxes) v = values[k++].toDouble();
  for (double& v : plane.normalCovariance) v = values[k++].toDouble();
  for (double& v : plane.centreCovariance) v = values[k++].toDouble();
  return true;
}

}  // namespace WindowParts

std::vector<TamoHandEye::ShotPlane> MainWindow::RowPlanes(const std::vector<int>& tableRows, std::size_t count) const {
  std::vector<TamoHandEye::ShotPlane> planes(count);
  bool any = false;
  const QTableWidget* table = ui->ParamList;
  for (std::size_t i = 0; i < count; ++i) {
    const int row = tableRows.empty() ? static_cast<int>(i) : tableRows[i];
    QStringList texts;
    for (int c = 0; c < 3; ++c) texts << (table->item(row, c) ? table->item(row, c)->text() : QString());
    any = RowPlaneOf(table->item(row, 0), texts, planes[i]) || any;
  }
  return any ? planes : std::vector<TamoHandEye::ShotPlane>{};
}
