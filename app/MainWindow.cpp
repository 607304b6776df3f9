#include "MainWindow.h"

#include "Dialogs.h"
#include "ImageFiles.h"
#include "ParamFile.h"
#include "ResidualPlot.h"
#include "ui_MainWindow.h"

#include <tarn/ErrorCode.h>
#include <tarn/FittedMarkerDetect.h>
#include <tarn/MarkerDetect.h>
#include <tarn/SolveFinalResult.h>
#include <tarn/Version.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QRegExp>
#include <QTextCodec>
#include <QTextStream>
#include <QUrl>

#include <cmath>
#include <limits>

namespace {

constexpr int kMarkerPasteColumn = 3;
constexpr int kFirstRobotColumn = 4;
const QColor kNotTakingPart(200, 200, 200);

// Element `i` of a standard container indexed by a Qt row or column number.
template <class Container>
auto& At(Container& container, int i) {
  return container[static_cast<std::size_t>(i)];
}

QString Number(double value, int precision) { return QString::number(value, 'g', precision); }

void SetResultTable(QTableWidget* table, const QStringList& headers, int rows) {
  table->setColumnCount(headers.size());
  table->setHorizontalHeaderLabels(headers);
  table->setRowCount(rows);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

}  // namespace

const QStringList& MainWindow::MarkerTypeTexts() {
  static const QStringList texts{"同心圆", "同心圆(平面拟合)"};
  return texts;
}

const QStringList& MainWindow::RobotTypeTexts() {
  static const QStringList texts = {
      "XYZR1R2R3",
      "XYZR1R2R3R4",
      "FANUC [X,Y,Z]mm|[W P R]deg",
      "ABB [X,Y,Z]mm|[EZ EY EX]deg",
      "KUKA [X,Y,Z]mm|[A B C]deg",
      "YASKAWA [X,Y,Z]mm|[RX RY RZ]deg",
      "ABB [X,Y,Z]mm|[Q1 Q2 Q3 Q4]deg",
      "UR [X,Y,Z]mm|[RX RY RZ]rad",
  };
  return texts;
}

MainWindow::MainWindow(QWidget* parent, std::shared_ptr<Dialogs> dialogSeam)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::MainWindow>()),
      dialogs(dialogSeam ? std::move(dialogSeam) : std::make_shared<Dialogs>()) {
  // 1. The form, its texts, tab 0.
  ui->setupUi(this);
  ui->tabWidget->setCurrentIndex(0);
  // 2. Local 8-bit text (files, paths) is GB2312.
  QTextCodec::setCodecForLocale(QTextCodec::codecForName("GB2312"));
  // 3. Image formats.
  ui->ImageFormatSelect->addItems({"png", "jpg", "bmp"});
  // 4. Connections (the table rows' buttons are connected per row).
  qRegisterMetaType<FinalResult>("FinalResult");
  qRegisterMetaType<std::vector<MarkerBoardResult>>("std::vector<MarkerBoardResult>");
  connect(this, &MainWindow::signalCalculateResultSend, this, &MainWindow::slotCalculateResult);
  connect(this, &MainWindow::signalMarkerResultsChanged, this, &MainWindow::slotMarkerResultsChanged);
  connect(ui->SelectPath2DBtn, &QPushButton::clicked, this, &MainWindow::slotSelectImagePath2DBtn);
  connect(ui->SelectPath3DBtn, &QPushButton::clicked, this, &MainWindow::slotSelectImagePath3DBtn);
  connect(ui->ImageFormatSelect, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
          &MainWindow::slotImageFormatChanged);
  connect(ui->Image2DDisplay, &QListWidget::currentItemChanged, this,
          [this](QListWidgetItem* current, QListWidgetItem*) { ShowImageItem(current); });
  connect(ui->CalculateMarker, &QPushButton::clicked, this, [this] { StartMarkerComputation(); });
  connect(ui->RobotParamPathBtn, &QPushButton::clicked, this, &MainWindow::slotRobotParamBtn);
  connect(ui->RobotSelect, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &MainWindow::slotRobotChanged);
  connect(ui->AddBtn, &QPushButton::clicked, this, &MainWindow::slotAddBtn);
  connect(ui->ExportBtn, &QPushButton::clicked, this, &MainWindow::slotExportBtn);
  connect(ui->InputBtn, &QPushButton::clicked, this, &MainWindow::slotInputBtn);
  connect(ui->CalculateBtn, &QPushButton::clicked, this, &MainWindow::slotCalculateBtn);
  connect(ui->clear, &QPushButton::clicked, this, [this] { ClearParamList(); });
  connect(ui->ParamList, &QTableWidget::itemChanged, this, [](QTableWidgetItem* item) {
    const QString trimmed = item->text().trimmed();
    if (trimmed != item->text()) item->setText(trimmed);
  });
  connect(ui->CheckBoxExhaust, &QCheckBox::toggled, this, &MainWindow::slotBruteForceCheckbox);
  connect(this, &MainWindow::info, this, [this](const QString& m) { dialogs->Information(this, "提示", m); });
  connect(this, &MainWindow::warn, this, [this](const QString& m) { dialogs->Warning(this, "警告", m); });
  connect(this, &MainWindow::error, this, [this](const QString& m) { dialogs->Critical(this, "错误", m); });
  connect(ui->SDK_path, &QPushButton::clicked, this,
          [this] { OpenFolder(QCoreApplication::applicationDirPath(), true); });
  connect(ui->user_manual, &QPushButton::clicked, this,
          [this] { OpenFolder(QCoreApplication::applicationDirPath(), false); });
  // 5, 6. Marker type, input hint, eye-in-hand.
  ui->MakerSelect->addItems(MarkerTypeTexts());
  ui->ParamList->setInputMethodHints(Qt::ImhHiddenText);
  ui->AlgoType0->setChecked(true);
  // 7. Robot types: filling the list selects index 0 once.
  for (int i = 0; i < RobotTypeTexts().size(); ++i) robotTypeMap.insert(RobotTypeTexts()[i], i);
  ui->RobotSelect->addItems(RobotTypeTexts());
  // 8. The inlier distance of the pose search.
  ui->DSpinBoxMaxDist->setEnabled(false);
  ui->DSpinBoxMaxDist->setDecimals(4);
  ui->DSpinBoxMaxDist->setMaximum(0.01);
  ui->DSpinBoxMaxDist->setSingleStep(0.0005);
  ui->DSpinBoxMaxDist->setValue(0.001);
  ui->label_17->setEnabled(false);
  // 9. The parameter table.
  const QStringList headers{"X", "Y", "Z", "操作", "X", "Y", "Z", "R1", "R2", "R3", "操作"};
  ui->ParamList->setColumnCount(headers.size());
  ui->ParamList->setHorizontalHeaderLabels(headers);
  ui->ParamList->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  // A narrow cell shows the leading digits, not "0....".
  ui->ParamList->setTextElideMode(Qt::ElideNone);
  ui->ParamList->setWordWrap(false);
  // 10. Tabs, placeholders, version.
  DisableResultTabs();
  ui->ImagePath2DEdit->setPlaceholderText("命名规范:xxx_0.png xxx_1.png");
  ui->ImagePath3DEdit->setPlaceholderText("命名规范:xxx_01.ply xxx_02.ply");
  ui->VersionLabel->setText(QString("Version:V") + TamoHandEye::GetVersion());
  // 11. Residual table, plots, "再计算".
  QTableWidget* residuals = ui->TableWidgetResidual;
  SetResultTable(residuals, {"序号", "误差(mm)", "X(mm)", "Y(mm)", "Z(mm)"}, 0);
  residuals->verticalHeader()->setVisible(false);
  xyPlot = new ResidualPlot("xy(mm)", ui->widget_2);
  xzPlot = new ResidualPlot("xz(mm)", ui->widget_2);
  yzPlot = new ResidualPlot("yz(mm)", ui->widget_2);
  ui->plotGrid->addWidget(xyPlot, 0, 0);
  ui->plotGrid->addWidget(xzPlot, 0, 1);
  ui->plotGrid->addWidget(yzPlot, 0, 2);
  connect(ui->PushButtonReCompute, &QPushButton::clicked, this, [this] { Recompute(); });
  // 12. The pose tables of the result tab.
  SetResultTable(ui->TableWidgetZV, {"X", "Y", "Z", "R1", "R2", "R3"}, 1);
  SetResultTable(ui->TableWidgetZ, {"列1", "列2", "列3", "列4"}, 4);
  ui->TableWidgetZ->setVerticalHeaderLabels({"行1", "行2", "行3", "行4"});
  SetResultTable(ui->TableWidgetX, {"X", "Y", "Z"}, 1);
  connect(ui->PushButtonSave, &QPushButton::clicked, this, &MainWindow::slotSaveResultBtn);
}

MainWindow::~MainWindow() = default;

void MainWindow::slotBruteForceCheckbox(bool on) {
  ui->DSpinBoxMaxDist->setEnabled(on);
  ui->label_17->setEnabled(on);
}

QStringList MainWindow::RobotHeaders() const { return RobotHeaders(ui->RobotSelect->currentText()); }

QStringList MainWindow::RobotHeaders(const QString& text) {
  const QStringList parts = text.split("|");
  QStringList headers{"X", "Y", "Z", "操作", "X", "Y", "Z"};
  if (parts.size() < 2) {
    if (text.contains("XYZR1R2R3")) {
      headers << "R1" << "R2" << "R3";
      if (text.contains("XYZR1R2R3R4")) headers << "R4";
    }
  } else {
    QRegExp names("\\[(.*)\\]");
    if (names.indexIn(parts[1]) != -1) headers << names.cap(1).split(" ");
  }
  headers << "操作";
  return headers;
}

void MainWindow::slotRobotChanged(int index) {
  QTableWidget* table = ui->ParamList;
  const QStringList headers = RobotHeaders();
  if (headers.size() != table->columnCount() && table->columnCount() > 0) {
    if (table->rowCount() > 0 &&
        !dialogs->Confirm(this, "所选机器人型号与当前型号参数不兼容, 此操作将会清空或覆盖机器人参数列表!")) {
      ui->RobotSelect->setCurrentIndex(previousRobotIndex);
      return;
    }
    for (int row = 0; row < table->rowCount(); ++row) {
      for (int column = 4; column < table->columnCount() - 1; ++column) {
        if (QTableWidgetItem* item = table->item(row, column)) item->setText(QString());
      }
    }
    if (table->columnCount() < headers.size()) {
      table->insertColumn(table->columnCount() - 1);
    } else {
      table->removeColumn(table->columnCount() - 2);
    }
  }
  previousRobotIndex = index;
  if (table->columnCount() == headers.size()) table->setHorizontalHeaderLabels(headers);
  ApplyUnitBoxes(index);
}

void MainWindow::ApplyUnitBoxes(int index) {
  const bool generic3 = index == 0;
  const bool generic4 = index == 1;
  ui->CheckBoxIsm->setVisible(generic3 || generic4);
  ui->CheckBoxRadian->setVisible(generic3);
  if (index >= 2) {
    ui->CheckBoxIsm->setChecked(false);
    ui->CheckBoxRadian->setChecked(index == 7);  // UR rows are radians
  }
}

void MainWindow::OpenFolder(const QString& folder, bool sdk) {
#ifdef Q_OS_WIN
  QString path = folder;
  path.replace("/", "\\");
  QProcess::execute(sdk ? QString("explorer %1\\TarnSDK").arg(path) : QString("explorer %1").arg(path));
#else
  const QString target = sdk ? QDir(folder).filePath("TarnSDK") : folder;
  if (!QDir(target).exists()) {
    emit warn(QString("文件夹不存在: %1").arg(QDir::toNativeSeparators(target)));
    return;
  }
  QDesktopServices::openUrl(QUrl::fromLocalFile(target));
#endif
}

// ---- Robot data files ----

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
  auto fail = [this](const QString& text) {
    dialogs->Warning(this, "警告", text, Dialogs::Button::Ok);
    return false;
  };
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return fail("文件打开失败！");
  QTextStream stream(&file);  // the locale codec
  QStringList lines;
  while (!stream.atEnd()) {
    const QString line = stream.readLine();
    if (!line.isEmpty()) lines << line;
  }
  if (stream.status() != QTextStream::Ok || file.error() != QFileDevice::NoError) return fail("文件打开失败！");
  if (lines.isEmpty()) return fail("文件格式为空！");

  QTableWidget* table = ui->ParamList;
  const int robotValues = table->columnCount() - 1 - kFirstRobotColumn;
  std::vector<QStringList> rows;
  for (const QString& line : lines) {
    const QStringList fields = line.trimmed().split(QRegExp("\\s+"));
    if (fields.size() != robotValues) return fail("文件数据和机器人不匹配,请检查机器人型号和文件是否正确！");
    for (const QString& field : fields) {
      bool ok = false;
      const double value = field.toDouble(&ok);
      if (!ok || !std::isfinite(value)) return fail("文件数据错误,请检查文件数据是否正确！");
    }
    rows.push_back(fields);
  }
  while (table->rowCount() < static_cast<int>(rows.size())) {
    table->insertRow(table->rowCount());
    MakeRowButtons(table->rowCount() - 1);
  }
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    for (int j = 0; j < robotValues; ++j) table->setItem(i, kFirstRobotColumn + j, new QTableWidgetItem(At(rows, i)[j]));
  }
  return true;
}

// ---- The parameter table ----

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
  DisableResultTabs();
  table->setRowCount(0);
  table->setColumnCount(headers.size());
  table->setHorizontalHeaderLabels(headers);
}

// ---- Calculation ----

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
                           const std::vector<std::vector<double>>& robotRows,
                           const TamoHandEye::AlgoParam& settings) {
  using namespace TamoHandEye;
  if (robotIndex < 0 || robotIndex > 7) {
    emit error("不存在的机器人类型!");
    return false;
  }
  using Solve = ErrorCode (*)(const std::vector<MarkerBoardResult>&, const RobotRows&, const AlgoParam&,
                              FinalResult&);
  static const Solve kSolvers[8] = {Common3SolveFinalResult, Common4SolveFinalResult, FanucSolveFinalResult,
                                    KukaSolveFinalResult,    KukaSolveFinalResult,    FanucSolveFinalResult,
                                    ABBQuatSolveFinalResult, UrSolveFinalResult};
  FinalResult result;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const ErrorCode code = kSolvers[robotIndex](markers, robotRows, settings, result);
  QApplication::restoreOverrideCursor();
  if (code != 0) {
    emit warn(QString("计算出错, 错误信息:%1").arg(QString::fromUtf8(parseCode(code))));
    return false;
  }
  lastResult = result;
  return true;
}

void MainWindow::slotCalculateBtn() {
  const int rows = ui->ParamList->rowCount();
  if (rows == 0) {
    dialogs->Warning(this, "计算失败", "数据不能为空!", Dialogs::Button::Ok);
    return;
  }
  std::vector<TamoHandEye::MarkerBoardResult> markers(static_cast<std::size_t>(rows));
  std::vector<std::vector<double>> robotRows(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    if (!ReadParamRow(i, false, At(markers, i), At(robotRows, i))) return;
  }
  const TamoHandEye::AlgoParam settings = Settings(ui->CheckBoxExhaust->isChecked());
  if (!Calculate(ui->RobotSelect->currentIndex(), markers, robotRows, settings)) return;
  ShowResultTabs(settings.HandEyeType);
  emit signalCalculateResultSend(lastResult);
}

bool MainWindow::ResidualRowChecked(int row) const {
  const auto* box = qobject_cast<const QCheckBox*>(ui->TableWidgetResidual->cellWidget(row, 0));
  return box && box->isChecked();
}

void MainWindow::Recompute() {
  std::vector<TamoHandEye::MarkerBoardResult> markers;
  std::vector<std::vector<double>> robotRows;
  for (int i = 0; i < ui->TableWidgetResidual->rowCount(); ++i) {
    if (!ResidualRowChecked(i)) continue;
    TamoHandEye::MarkerBoardResult marker;
    std::vector<double> row;
    if (!ReadParamRow(i, true, marker, row)) return;
    markers.push_back(marker);
    robotRows.push_back(row);
  }
  const TamoHandEye::AlgoParam settings = Settings(false);
  if (!Calculate(ui->RobotSelect->currentIndex(), markers, robotRows, settings)) return;
  ShowResultTabs(settings.HandEyeType);
  RefreshAfterRecompute(lastResult);
}

namespace {

void SetResidualItems(QTableWidget* table, int row, const TamoHandEye::PoseResidual& residual) {
  const double values[4] = {residual.distance, residual.dx, residual.dy, residual.dz};
  for (int c = 0; c < 4; ++c) table->setItem(row, c + 1, new QTableWidgetItem(Number(values[c], 6)));
  table->item(row, 1)->setData(Qt::UserRole, residual.distance);  // the colour scale uses every digit
}

}  // namespace

void MainWindow::slotCalculateResult(FinalResult result) {
  lastResult = result;
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

// ---- Image sets ----

ImageFiles::ReplaceQuestion MainWindow::AskReplace() {
  return [this](const QString& name, const QString& held) {
    return dialogs->OkCancel("提示", QString("检测到有相同尾号的图片[%1],是否将当前图片[%2]替换").arg(name, held));
  };
}

void MainWindow::slotSelectImagePath2DBtn() { slotRefreshImage2DList(dialogs->Folder(this, "选择2D图片目录")); }

void MainWindow::slotRefreshImage2DList(QString dir) {
  if (dir.isEmpty()) return;
  const QString extension = ui->ImageFormatSelect->currentText();
  const QStringList entries = ImageFiles::List(dir, extension);
  folder2D = dir;
  ui->ImagePath2DEdit->setText(dir);
  ui->Image2DDisplay->clear();
  ui->display->setImage(QImage());
  // A folder without usable files leaves no names of the previous folder behind.
  files2D.clear();
  if (entries.isEmpty()) return;
  files2D = ImageFiles::Collect(entries, extension, AskReplace());
  ui->Image2DDisplay->addItems(files2D);
}

void MainWindow::slotImageFormatChanged(int index) {
  static const char* const kHints[] = {"命名规范:xxx_0.png xxx_1.png", "命名规范:xxx_0.jpg xxx_1.jpg",
                                       "命名规范:xxx_0.bmp xxx_1.bmp"};
  if (index >= 0 && index < 3) ui->ImagePath2DEdit->setPlaceholderText(kHints[index]);
  slotRefreshImage2DList(folder2D);
}

void MainWindow::slotSelectImagePath3DBtn() {
  const QString dir = dialogs->Folder(this, "选择3D图片目录");
  if (dir.isEmpty()) return;
  const QStringList entries = ImageFiles::List(dir, "ply");
  if (entries.isEmpty()) {
    dialogs->Warning(this, "警告", "文件读取失败，没有找到图片，请检查图片命名是否正确.", Dialogs::Button::Ok);
    return;
  }
  files3D = ImageFiles::Collect(entries, "ply", AskReplace());
  ui->Image3DDisplay->clear();
  ui->Image3DDisplay->addItems(files3D);
  folder3D = dir;
  ui->ImagePath3DEdit->setText(dir);
}

void MainWindow::ShowImageItem(QListWidgetItem* item) {
  if (!item || folder2D.isEmpty()) return;
  const QVariant cached = item->data(Qt::UserRole);
  if (cached.userType() == QMetaType::QImage) {
    ui->display->setImage(cached.value<QImage>());
    return;
  }
  const QImage image(folder2D + "/" + item->text());
  item->setData(Qt::UserRole, image);
  ui->display->setImage(image);
}

// ---- Marker batch ----

void MainWindow::StartMarkerComputation() {
  if (files2D.isEmpty() || files3D.isEmpty()) {
    dialogs->Information(this, "提示", "请先选择需要计算标记位置的图片数据");
    return;
  }
  QTableWidget* table = ui->ParamList;
  if (table->rowCount() > 0 && table->item(0, 0) != nullptr &&
      !dialogs->Confirm(this, "此操作将会覆盖参数列表的部分数据")) {
    return;
  }
  ComputeMarkers(QStringList(files2D), QStringList(files3D));
}

namespace {

// The path as the operating system's local 8-bit text, as the library opens files with it.
std::string LibraryPath(const QString& path) {
  if (QTextCodec* system = QTextCodec::codecForName("system")) return system->fromUnicode(path).toStdString();
  return path.toUtf8().toStdString();
}

// The message of a detection's code; when one of the shot's files could not be used, which one and why.
QString DetectionFailure(TamoHandEye::ErrorCode code, const QString& image, const QString& cloud) {
  const QString message = QString::fromUtf8(TamoHandEye::parseCode(code));
  if (code != TamoHandEye::Err_Data_Invalid_Image && code != TamoHandEye::Err_Data_Invalid_PointCloud) return message;
  const TamoHandEye::ShotFileProblem problem = TamoHandEye::DescribeShotFiles(LibraryPath(image), LibraryPath(cloud));
  const QString reason = QString::fromUtf8(problem.reason.c_str());
  switch (problem.file) {
    case TamoHandEye::ShotFileProblem::Image: return QString("无法读取2D图片%1: %2").arg(image, reason);
    case TamoHandEye::ShotFileProblem::PointCloud: return QString("%1 (%2: %3)").arg(message, cloud, reason);
    case TamoHandEye::ShotFileProblem::None: break;
  }
  return message;
}

TamoHandEye::MarkerBoardResult NoMarker() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  TamoHandEye::MarkerBoardResult record;
  record.x = record.y = record.z = record.u = record.v = nan;
  return record;
}

}  // namespace

void MainWindow::ComputeMarkers(const QStringList& images, const QStringList& clouds) {
  markerResults.clear();
  if (images.size() != clouds.size()) {
    dialogs->Warning(this, "提示", "2D图片数据和3D图片数据数量不匹配,请检查图片后重新导入", Dialogs::Button::Ok);
    return;
  }
  const int pairs = images.size();
  const bool fitted = ui->MakerSelect->currentIndex() == 1;  // "同心圆(平面拟合)"
  std::unique_ptr<Dialogs::Progress> progress = dialogs->OpenProgress(this, "正在计算第1组标记位置", "取消");
  QStringList errors;
  for (int n = 1; n <= pairs; ++n) {
    const QString image = folder2D + "//" + images[n - 1];
    const QString cloud = folder3D + "//" + clouds[n - 1];
    MarkerBoardResult record = NoMarker();
    if (!QFile::exists(image)) {
      errors << QString("第%1组数据检测失败, 错误信息:无法找到目标文件%2").arg(n).arg(image);
    } else if (!QFile::exists(cloud)) {
      errors << QString("第%1组数据检测失败, 错误信息:无法找到目标文件%2").arg(n).arg(cloud);
    } else {
      MarkerBoardResult found;
      const TamoHandEye::ErrorCode code =
          fitted ? TamoHandEye::SolveFittedMarkerResults(LibraryPath(image), LibraryPath(cloud), found)
                 : TamoHandEye::SolveMarkerBoardResults(LibraryPath(image), LibraryPath(cloud), found);
      if (code != 0) {
        errors << QString("第%1组数据检测失败, 错误信息:%2").arg(n).arg(DetectionFailure(code, image, cloud));
      } else {
        record = found;
      }
    }
    progress->SetLabel(QString("正在计算第%1组标记位置").arg(std::min(n + 1, pairs)));
    progress->SetValue(static_cast<int>(n * 100.0 / pairs));
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    markerResults.push_back(record);
    if (progress->Cancelled()) break;
  }
  if (!errors.isEmpty()) {
    QString lines;
    for (const QString& line : errors) lines += line + "\n";
    dialogs->Critical(this, "错误", QString("求解标记位置时发生了错误:\n%1").arg(lines));
  }
  emit signalMarkerResultsChanged(markerResults);
  progress.reset();
}

void MainWindow::slotMarkerResultsChanged(std::vector<MarkerBoardResult> results) {
  QTableWidget* table = ui->ParamList;
  while (table->rowCount() < static_cast<int>(results.size())) {
    table->insertRow(table->rowCount());
    MakeRowButtons(table->rowCount() - 1);
  }
  for (int j = 0; j < static_cast<int>(results.size()); ++j) {
    const MarkerBoardResult& result = At(results, j);
    QListWidgetItem* item = ui->Image2DDisplay->item(j);
    if (std::isnan(result.x) && std::isnan(result.y) && std::isnan(result.z)) {
      for (int c = 0; c < 3; ++c) table->setItem(j, c, new QTableWidgetItem());
      if (item) item->setData(Qt::UserRole, QVariant());
      continue;
    }
    const double values[3] = {result.x, result.y, result.z};
    for (int c = 0; c < 3; ++c) table->setItem(j, c, new QTableWidgetItem(Number(values[c], 10)));
    if (!item) continue;
    QImage image(folder2D + "/" + item->text());
    if (image.isNull()) continue;
    // Grey (and palette) images cannot carry a green cross: widen them to colour first.
    if (image.isGrayscale() || image.format() == QImage::Format_Indexed8 || image.format() == QImage::Format_Mono ||
        image.format() == QImage::Format_MonoLSB) {
      image = image.convertToFormat(QImage::Format_RGB888);
    }
    QPainter painter(&image);
    painter.setPen(QPen(QColor(0, 255, 75), 3));
    painter.drawLine(QPointF(result.u - 10, result.v), QPointF(result.u + 10, result.v));
    painter.drawLine(QPointF(result.u, result.v - 10), QPointF(result.u, result.v + 10));
    painter.end();
    item->setData(Qt::UserRole, image);
  }
}

// ---- Parameter and result files ----

bool MainWindow::WriteFile(const QString& path, const std::vector<const QTableWidget*>& tables) const {
  ParamFile::Settings settings;
  settings.handEyeType = ui->AlgoType0->isChecked() ? 0 : 1;
  settings.robotType = ui->RobotSelect->currentText();
  settings.markerType = ui->MakerSelect->currentText();
  settings.isMeter = ui->CheckBoxIsm->isChecked();
  settings.isRadian = ui->CheckBoxRadian->isChecked();
  settings.exhaust = ui->CheckBoxExhaust->isChecked();
  settings.ransacDist = ui->DSpinBoxMaxDist->value();
  return ParamFile::Write(path, settings, tables);
}

MainWindow::ReadOutcome MainWindow::ReadParamFile(const QString& path) {
  ParamFile::Content content;
  if (!ParamFile::Read(path, content)) return ReadOutcome::Failed;
  QString value;
  // The table must be the parameter table of the robot type the file names (an unknown or missing
  // type reads as the first), before anything is applied: a result file's tables would put the camera
  // row and matrix into the pose rows.
  const int index = content.Find("RobotType", value) ? robotTypeMap.value(value, 0) : ui->RobotSelect->currentIndex();
  QStringList header = content.tableHeader.split(",");
  if (!header.isEmpty() && header.last().isEmpty()) header.removeLast();
  if (header != RobotHeaders(RobotTypeTexts().value(index))) return ReadOutcome::NotParameterFile;

  if (content.Find("RobotType", value)) {
    const int before = ui->RobotSelect->currentIndex();
    ui->RobotSelect->setCurrentIndex(index);
    if (index != before && ui->RobotSelect->currentIndex() == before) return ReadOutcome::Failed;  // refused
  }
  // Files written before the fitted centre existed were made with the centroids: "同心圆".
  ui->MakerSelect->setCurrentIndex(content.Find("MarkerType", value) ? std::max(0, MarkerTypeTexts().indexOf(value)) : 0);
  if (content.Find("HandEyeType", value)) (value.toInt() != 0 ? ui->AlgoType1 : ui->AlgoType0)->setChecked(true);
  if (content.Find("IsMeter", value)) ui->CheckBoxIsm->setChecked(value.toInt() != 0);
  if (content.Find("IsRadian", value)) ui->CheckBoxRadian->setChecked(value.toInt() != 0);
  if (content.Find("Exhaust", value)) ui->CheckBoxExhaust->setChecked(value.toInt() != 0);
  if (content.Find("RansacDist", value)) ui->DSpinBoxMaxDist->setValue(value.toDouble());
  markerResults.clear();

  QTableWidget* table = ui->ParamList;
  table->setRowCount(content.rows.size());
  for (int r = 0; r < content.rows.size(); ++r) {
    const QStringList parts = content.rows[r].split(",");
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
  if (WriteFile(path, {ui->TableWidgetZV, ui->TableWidgetZ, ui->TableWidgetX})) {
    dialogs->Information(this, "提示", "数据导出成功.", Dialogs::Button::Ok);
  } else {
    dialogs->Warning(this, "警告", "数据导出失败!", Dialogs::Button::Ok);
  }
}

void MainWindow::DisableResultTabs() {
  ui->tabWidget->setTabEnabled(1, false);
  ui->tabWidget->setTabEnabled(2, false);
}
