#include "MainWindow.h"

#include "Dialogs.h"
#include "ui_MainWindow.h"

#include <tarn/Version.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QHeaderView>
#include <QProcess>
#include <QRegExp>
#include <QTextCodec>
#include <QUrl>

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
  connect(ui->RobotSelect, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &MainWindow::slotRobotChanged);
  connect(ui->CheckBoxExhaust, &QCheckBox::toggled, this, &MainWindow::slotBruteForceCheckbox);
  connect(this, &MainWindow::info, this, [this](const QString& m) { dialogs->Information(this, "提示", m); });
  connect(this, &MainWindow::warn, this, [this](const QString& m) { dialogs->Warning(this, "警告", m); });
  connect(this, &MainWindow::error, this, [this](const QString& m) { dialogs->Critical(this, "错误", m); });
  connect(ui->SDK_path, &QPushButton::clicked, this,
          [this] { OpenFolder(QCoreApplication::applicationDirPath(), true); });
  connect(ui->user_manual, &QPushButton::clicked, this,
          [this] { OpenFolder(QCoreApplication::applicationDirPath(), false); });
  // 5, 6. Marker type, input hint, eye-in-hand.
  ui->MakerSelect->addItem("同心圆");
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
  // 10. Tabs, placeholders, version.
  ui->tabWidget->setTabEnabled(1, false);
  ui->tabWidget->setTabEnabled(2, false);
  ui->ImagePath2DEdit->setPlaceholderText("命名规范:xxx_0.png xxx_1.png");
  ui->ImagePath3DEdit->setPlaceholderText("命名规范:xxx_01.ply xxx_02.ply");
  ui->VersionLabel->setText(QString("Version:V") + TamoHandEye::GetVersion());
}

MainWindow::~MainWindow() = default;

void MainWindow::slotBruteForceCheckbox(bool on) {
  ui->DSpinBoxMaxDist->setEnabled(on);
  ui->label_17->setEnabled(on);
}

QStringList MainWindow::RobotHeaders() const {
  const QString text = ui->RobotSelect->currentText();
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
