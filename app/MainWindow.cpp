// SPDX-License-Identifier: Apache-2.0
#include "MainWindow.h"

#include "Dialogs.h"
#include "ResidualPlot.h"
#include "WindowParts.h"
#include "ui_MainWindow.h"

#include "PrintableMarker.h"
#include "RobotTypes.h"
#include "SettingsFile.h"

#include <tarn/Version.h>

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QProcess>
#include <QPushButton>
#include <QTextCodec>
#include <QUrl>

#include <algorithm>

using namespace WindowParts;

void WindowParts::SetResultTable(QTableWidget* table, const QStringList& headers, int rows) {
  table->setColumnCount(headers.size());
  table->setHorizontalHeaderLabels(headers);
  table->setRowCount(rows);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

const QStringList& MainWindow::MarkerTypeTexts() {
  static const QStringList texts{QString::fromStdString(TarnWorkflow::CentroidMarkerText()),
                                 QString::fromStdString(TarnWorkflow::FittedMarkerText())};
  return texts;
}

const QStringList& MainWindow::RobotTypeTexts() {
  static const QStringList texts = [] {
    QStringList list;
    for (const TarnWorkflow::RobotType& type : TarnWorkflow::RobotTypes()) list << QString::fromStdString(type.text);
    return list;
  }();
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
  ConnectActions();
  // 5 to 9. Marker type, robot types, the pose search's distance, the parameter table.
  SetUpCollection();
  // 10. Tabs, placeholders, version.
  DisableResultTabs();
  ui->ImagePath2DEdit->setPlaceholderText("命名规范:xxx_0.png xxx_1.png");
  ui->ImagePath3DEdit->setPlaceholderText("命名规范:xxx_01.ply xxx_02.ply");
  ui->VersionLabel->setText(QString("Version:V") + TamoHandEye::GetVersion());
  // 11, 12. Residual table, plots, "再计算"; the pose tables of the result tab.
  SetUpResultViews();
}

void MainWindow::ConnectActions() {
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
  connect(ui->VerifyBtn, &QPushButton::clicked, this, [this] { Verify(); });
  connect(ui->PlanBtn, &QPushButton::clicked, this, [this] { OpenPlanDialog(); });
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
  connect(ui->MakeMarkerBtn, &QPushButton::clicked, this, &MainWindow::MakeMarker);
}

void MainWindow::MakeMarker() {
  // The last choice is offered again; the sheet's texts are Chinese, as `tarn marker` writes by default.
  if (!dialogs->MarkerChoice(this, markerRadiusMm, markerPaper)) return;
  QString path = dialogs->SaveFile(this, "保存标记", "PDF (*.pdf)");
  if (path.isEmpty()) return;
  if (!path.endsWith(".pdf", Qt::CaseInsensitive)) path += ".pdf";
  TarnWorkflow::MarkerSheet sheet;
  sheet.radiusMm = markerRadiusMm;
  sheet.language = TarnWorkflow::SheetLanguage::Zh;
  constexpr TarnWorkflow::Paper kPapers[] = {TarnWorkflow::Paper::A4, TarnWorkflow::Paper::A3,
                                             TarnWorkflow::Paper::Letter, TarnWorkflow::Paper::Sheet};
  sheet.paper = kPapers[std::clamp(markerPaper, 0, 3)];
  std::string failure;
  if (!TarnWorkflow::WriteMarkerSheet(path.toLocal8Bit().toStdString(), sheet, failure)) {
    emit error(QString("无法写入标记: %1").arg(QString::fromStdString(failure)));
    return;
  }
  const std::vector<TarnWorkflow::MarkerPage> pages = TarnWorkflow::PagesOf(sheet);
  QString text = QString("已写入 %1 (%2 页)。请按 100% 打印，不要缩放到页面大小，打印后量一下比例尺。")
                     .arg(QDir::toNativeSeparators(path))
                     .arg(pages.size());
  if (pages.size() > 1) text += "\n沿每页的裁切标记剪去左边和上边，把剪边对齐前一页的虚线后粘贴。";
  emit info(text);
}

void MainWindow::SetUpCollection() {
  // Marker type, input hint, eye-in-hand.
  ui->MakerSelect->addItems(MarkerTypeTexts());
  ui->MakerSelect->setCurrentIndex(1);  // "同心圆(平面拟合)": the precise centre
  ui->ParamList->setInputMethodHints(Qt::ImhHiddenText);
  ui->AlgoType0->setChecked(true);
  // Robot types: filling the list selects index 0 once.
  ui->RobotSelect->addItems(RobotTypeTexts());
  // The inlier distance of the pose search.
  ui->DSpinBoxMaxDist->setEnabled(false);
  ui->DSpinBoxMaxDist->setDecimals(4);
  ui->DSpinBoxMaxDist->setMaximum(0.01);
  ui->DSpinBoxMaxDist->setSingleStep(0.0005);
  ui->DSpinBoxMaxDist->setValue(0.001);
  // 0: the distance follows the data's own noise.
  ui->DSpinBoxMaxDist->setSpecialValueText("自动");
  ui->DSpinBoxMaxDist->setToolTip("位姿筛选的距离阈值（米）；设为 0（自动）时按数据自身的噪声确定");
  ui->DSpinBoxToleranceMm->setToolTip("相机平移不确定度（1σ）的要求，下次计算时生效");
  ui->DSpinBoxToleranceDeg->setToolTip("相机旋转不确定度（1σ）的要求，下次计算时生效");
  ui->label_17->setEnabled(false);
  // The parameter table.
  const QStringList headers{"X", "Y", "Z", "操作", "X", "Y", "Z", "R1", "R2", "R3", "操作"};
  ui->ParamList->setColumnCount(headers.size());
  ui->ParamList->setHorizontalHeaderLabels(headers);
  ui->ParamList->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  // A narrow cell shows the leading digits, not "0....".
  ui->ParamList->setTextElideMode(Qt::ElideNone);
  ui->ParamList->setWordWrap(false);
}

void MainWindow::MakePlots() {
  if (xyPlot != nullptr) return;
  xyPlot = new ResidualPlot("xy(mm)", ui->widget_2);
  xzPlot = new ResidualPlot("xz(mm)", ui->widget_2);
  yzPlot = new ResidualPlot("yz(mm)", ui->widget_2);
  ui->plotGrid->addWidget(xyPlot, 0, 0);
  ui->plotGrid->addWidget(xzPlot, 0, 1);
  ui->plotGrid->addWidget(yzPlot, 0, 2);
}

void MainWindow::SetUpResultViews() {
  QTableWidget* residuals = ui->TableWidgetResidual;
  SetResultTable(residuals, {"序号", "误差(mm)", "X(mm)", "Y(mm)", "Z(mm)"}, 0);
  residuals->verticalHeader()->setVisible(false);
  // The residual plots are made when their tab is first shown or a result is drawn in them: measuring their
  // scales' labels is a good part of what the first window costs.
  connect(ui->tabWidget, &QTabWidget::currentChanged, this, [this](int index) {
    const QWidget* tab = ui->tabWidget->widget(index);
    if (tab != nullptr && tab->isAncestorOf(ui->widget_2)) MakePlots();
  });
  connect(ui->PushButtonReCompute, &QPushButton::clicked, this, [this] { Recompute(); });
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
  QStringList headers{"X", "Y", "Z", "操作"};
  if (const TarnWorkflow::RobotType* type = TarnWorkflow::RobotTypeOfText(text.toStdString())) {
    headers << ToQt(type->ColumnNames());
  } else {
    headers << "X"
            << "Y"
            << "Z";
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
      for (int column = kFirstRobotColumn; column < table->columnCount() - 1; ++column) {
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
  const TarnWorkflow::RobotType* type = TarnWorkflow::RobotTypeAt(index);
  if (type == nullptr) return;
  ui->CheckBoxIsm->setVisible(type->meterChoice);
  ui->CheckBoxRadian->setVisible(type->radianChoice);
  // The types with fixed units: millimetres, and degrees or (UR) radians.
  if (!type->meterChoice) {
    ui->CheckBoxIsm->setChecked(false);
    ui->CheckBoxRadian->setChecked(type->radian);
  }
}

void MainWindow::OpenFolder(const QString& folder, bool sdk) {
#ifdef Q_OS_WIN
  QString path = folder;
  path.replace("/", "\\");
  QProcess::execute(sdk ? QString("explorer %1\\TarnSDK").arg(path) : QString("explorer %1").arg(path));
#else
  // Installed: <prefix>/bin/tarn_studio, the SDK folder <prefix>/share/tarn/TarnSDK and the manual
  // <prefix>/share/doc/tarn/manual; run from the build tree, the source tree's copies.
  const QDir bin(folder);
  const QStringList candidates =
      sdk ? QStringList{bin.filePath("../share/tarn/TarnSDK"), QString(TARN_SOURCE_DIR "/examples")}
          : QStringList{bin.filePath("../share/doc/tarn/manual/zh/index.html"),
                        bin.filePath("../share/doc/tarn/manual/zh/README.md"),
                        QString(TARN_SOURCE_DIR "/docs/manual/zh/README.md")};
  for (const QString& candidate : candidates) {
    if (QFileInfo::exists(candidate)) {
      const QString path = QFileInfo(candidate).canonicalFilePath();
      // Without a program to open it (no desktop's file launcher), say where it is.
      if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        emit warn(QString("没有能打开它的程序，请手动打开: %1").arg(QDir::toNativeSeparators(path)));
      }
      return;
    }
  }
  emit warn(QString("文件夹不存在: %1").arg(QDir::toNativeSeparators(QDir::cleanPath(candidates.front()))));
#endif
}

void MainWindow::DisableResultTabs() {
  ui->tabWidget->setTabEnabled(1, false);
  ui->tabWidget->setTabEnabled(2, false);
}
