// SPDX-License-Identifier: Apache-2.0
// The whole workflow in the window: folders of shots, the marker batch, the robot data file, "计算", the
// result tab, "保存", and the parameter file's "导出" / "导入".

#include "DataSet.h"
#include "ImageFiles.h"
#include "RobotTypes.h"
#include "SettingsFile.h"
#include "WindowUnderTest.h"

#include <tarn/ErrorCode.h>
#include <tarn/RowConversions.h>

#include <nlohmann/json.hpp>

#include <QtTest>
#include <QtWidgets>

#include <Eigen/Dense>

#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <memory>

namespace {

QString Cell(QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item ? item->text() : QString("<none>");
}

QStringList Items(QListWidget* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
  return names;
}

QString ParseCode(int code) { return QString::fromUtf8(TamoHandEye::parseCode(TamoHandEye::ErrorCode(code))); }

bool CopyFolder(const QString& from, const QString& to) {
  QDir().mkpath(to);
  for (const QString& name : QDir(from).entryList(QDir::Files)) {
    if (!QFile::copy(from + "/" + name, to + "/" + name)) return false;
  }
  return true;
}

}  // namespace

class WorkflowTest : public QObject, private WindowUnderTest {
  Q_OBJECT

  QTemporaryDir data;  // a rendered set: images/, clouds/, robot.txt, truth.json
  nlohmann::json truth;

  QString Images() const { return data.filePath("images"); }
  QString Clouds() const { return data.filePath("clouds"); }

  // Picks both folders through the dialogs, as the operator would.
  void PickFolders(const QString& images, const QString& clouds) {
    dialogs->folders = QStringList{images, clouds};
    ui->SelectPath2DBtn->click();
    ui->SelectPath3DBtn->click();
  }

  // A copy of the first `pairs` shots that a test may spoil.
  QString CopyOfShots(const QTemporaryDir& dir, int pairs) {
    for (const char* kind : {"images", "clouds"}) QDir().mkpath(dir.filePath(kind));
    for (int i = 0; i < pairs; ++i) {
      QFile::copy(Images() + QString("/shot_%1.png").arg(i), dir.filePath(QString("images/shot_%1.png").arg(i)));
      QFile::copy(Clouds() + QString("/shot_%1.ply").arg(i), dir.filePath(QString("clouds/shot_%1.ply").arg(i)));
    }
    return dir.path();
  }

  // "导入" of a file whose table is not the parameter table: the message, and the window as it was.
  void ExpectImportRefused() {
    QTableWidget* table = ui->ParamList;
    QStringList before;
    for (int r = 0; r < table->rowCount(); ++r) {
      for (int c = 0; c < table->columnCount(); ++c) before << Cell(table, r, c);
    }
    const int robot = ui->RobotSelect->currentIndex();
    const bool inHand = ui->AlgoType0->isChecked(), exhaust = ui->CheckBoxExhaust->isChecked();
    const double distance = ui->DSpinBoxMaxDist->value();
    const bool resultTab = ui->tabWidget->isTabEnabled(1);
    const std::size_t markers = MainWindowTester::MarkerResults(*window).size();
    dialogs->shown.clear();
    ui->InputBtn->click();
    QCOMPARE(dialogs->shown, QStringList({"提示|文件不是参数文件,未导入任何数据!|OK"}));
    QStringList after;
    for (int r = 0; r < table->rowCount(); ++r) {
      for (int c = 0; c < table->columnCount(); ++c) after << Cell(table, r, c);
    }
    QCOMPARE(after, before);
    QCOMPARE(ui->RobotSelect->currentIndex(), robot);
    QCOMPARE(ui->AlgoType0->isChecked(), inHand);
    QCOMPARE(ui->CheckBoxExhaust->isChecked(), exhaust);
    QCOMPARE(ui->DSpinBoxMaxDist->value(), distance);
    QCOMPARE(ui->tabWidget->isTabEnabled(1), resultTab);
    QCOMPARE(MainWindowTester::MarkerResults(*window).size(), markers);
  }

 private slots:
  void initTestCase() {
    QVERIFY(data.isValid());
    TarnSim::SynthOptions options;
    options.folder = data.path().toStdString();
    options.poses = 12;  // keys 10 and 11 must follow 9
    options.width = 800;
    options.height = 600;
    TarnSim::Synthesise(options);
    std::ifstream in(data.filePath("truth.json").toStdString());
    in >> truth;
  }

  void init() { Open(); }
  void cleanup() { Close(); }

  void fileNamesGiveKeysAndOrder() {
    const QStringList entries{"a_2.png", "b_10.png", "c_1.png", "d_01.png", "e_x.png", "F_3.PNG", "noscore.png"};
    QStringList asked;
    auto keep = [&asked](const QString& name, const QString& held) {
      asked << name + "<" + held;
      return false;
    };
    // 1 and 01 are two keys of equal value (listing order kept); upper-case extensions and names without
    // a number after the last underscore are left out.
    QCOMPARE(ImageFiles::Collect(entries, "png", keep), QStringList({"c_1.png", "d_01.png", "a_2.png", "b_10.png"}));
    QVERIFY(asked.isEmpty());
    QCOMPARE(ImageFiles::Collect({"a_1.png", "b_1.png", "c_0.png"}, "png", keep), QStringList({"c_0.png", "a_1.png"}));
    QCOMPARE(asked, QStringList({"b_1.png<a_1.png"}));
    QCOMPARE(ImageFiles::Collect({"a_1.png", "b_1.png", "c_0.png"}, "png",
                                 [](const QString&, const QString&) { return true; }),
             QStringList({"c_0.png", "b_1.png"}));
    QStringList names{"x_12.ply", "x_3.ply", "noext"};
    QVERIFY(!ImageFiles::Sort(names));
    QCOMPARE(names, QStringList({"noext", "x_3.ply", "x_12.ply"}));
  }

  void foldersListTheShotsInPoseOrder() {
    PickFolders(Images(), Clouds());
    QStringList expected2D, expected3D;
    for (int i = 0; i < 12; ++i) {
      expected2D << QString("shot_%1.png").arg(i);
      expected3D << QString("shot_%1.ply").arg(i);
    }
    QCOMPARE(Items(ui->Image2DDisplay), expected2D);
    QCOMPARE(Items(ui->Image3DDisplay), expected3D);
    QCOMPARE(ui->ImagePath2DEdit->text(), Images());
    QCOMPARE(dialogs->pickers, QStringList({"选择2D图片目录", "选择3D图片目录"}));

    // Selecting an entry loads its image once into the entry.
    ui->Image2DDisplay->setCurrentRow(3);
    const QVariant cached = ui->Image2DDisplay->item(3)->data(Qt::UserRole);
    QCOMPARE(cached.value<QImage>().size(), QSize(800, 600));

    // A 3D folder without clouds warns and keeps the earlier one.
    dialogs->folders = QStringList{Images()};
    ui->SelectPath3DBtn->click();
    QCOMPARE(dialogs->shown, QStringList({"警告|文件读取失败，没有找到图片，请检查图片命名是否正确.|OK"}));
    QCOMPARE(ui->ImagePath3DEdit->text(), Clouds());
    QCOMPARE(ui->Image3DDisplay->count(), 12);

    // A format without files empties the 2D list, quietly, and the batch has nothing to pair.
    dialogs->shown.clear();
    ui->ImageFormatSelect->setCurrentIndex(1);
    QCOMPARE(ui->ImagePath2DEdit->placeholderText(), QString("命名规范:xxx_0.jpg xxx_1.jpg"));
    QCOMPARE(ui->Image2DDisplay->count(), 0);
    QVERIFY(dialogs->shown.isEmpty());
    ui->CalculateMarker->click();
    QCOMPARE(dialogs->shown, QStringList({"提示|请先选择需要计算标记位置的图片数据"}));
    QVERIFY(dialogs->progressLabels.isEmpty());
  }

  void sameKeyAsksWhichToKeep() {
    QTemporaryDir dir;
    for (const char* name : {"left_1.png", "right_1.png", "left_0.png"}) QVERIFY(WriteText(dir.filePath(name), "x"));
    dialogs->folders = QStringList{dir.path()};
    dialogs->answer = true;
    ui->SelectPath2DBtn->click();
    QCOMPARE(dialogs->questions,
             QStringList({"提示|检测到有相同尾号的图片[right_1.png],是否将当前图片[left_1.png]替换"}));
    QCOMPARE(Items(ui->Image2DDisplay), QStringList({"left_0.png", "right_1.png"}));
    // An image that cannot be loaded shows as no image.
    ui->Image2DDisplay->setCurrentRow(0);
    QVERIFY(ui->Image2DDisplay->item(0)->data(Qt::UserRole).value<QImage>().isNull());
  }

  void wholeCalibrationFromFolders() {
    PickFolders(Images(), Clouds());
    ui->RobotSelect->setCurrentIndex(2);  // FANUC
    ui->MakerSelect->setCurrentIndex(0);  // "同心圆": the rings' centroids
    ui->CalculateMarker->click();
    QVERIFY_NO_BOX(dialogs);
    QCOMPARE(dialogs->progressLabels.first(), QString("正在计算第1组标记位置|取消"));
    QCOMPARE(dialogs->progressLabels.last(), QString("正在计算第12组标记位置"));
    QCOMPARE(dialogs->progressValues.last(), 100);
    QTableWidget* table = ui->ParamList;
    QCOMPARE(table->rowCount(), 12);
    QCOMPARE(MainWindowTester::MarkerResults(*window).size(), size_t(12));

    // Each shot's marker lies where the renderer put it; its cached image carries the green cross there.
    for (int i = 0; i < 12; ++i) {
      const auto& record = MainWindowTester::MarkerResults(*window)[size_t(i)];
      QCOMPARE(Cell(table, i, 0), QString::number(record.x, 'g', 10));
      const auto& centre = truth["imageCentresPx"][size_t(i)];
      QVERIFY(std::hypot(record.u - centre[0].get<double>(), record.v - centre[1].get<double>()) < 2.0);
      const QImage marked = ui->Image2DDisplay->item(i)->data(Qt::UserRole).value<QImage>();
      QCOMPARE(marked.pixelColor(int(std::lround(record.u)) + 8, int(std::lround(record.v))), QColor(0, 255, 75));
    }
    const QImage onDisk(Images() + "/shot_0.png");
    QVERIFY(onDisk.pixelColor(int(MainWindowTester::MarkerResults(*window)[0].u) + 8,
                              int(MainWindowTester::MarkerResults(*window)[0].v)) != QColor(0, 255, 75));

    dialogs->path = data.filePath("robot.txt");
    ui->RobotParamPathBtn->click();
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);
    QCOMPARE(ui->tabWidget->currentIndex(), 1);

    // The report says the centroids' bias is not in its σ, and whether the tolerance is met.
    const QString diagnosis = ui->TextDiagnosis->toPlainText();
    QVERIFY2(diagnosis.contains("上述 σ 不包含该偏差") && diagnosis.contains("要求精度 1.000 mm、0.100°（1σ）：满足") &&
                 diagnosis.contains("求解模型：仅标记点。"),  // the centroids give no normal
             qUtf8Printable(diagnosis));

    // Within what 800 x 600 shots allow: about a pixel of centroid shift at half a metre.
    const auto& matrix = truth["camera"]["matrixMm"];
    for (int j = 0; j < 3; ++j) {
      QVERIFY2(std::abs(Cell(ui->TableWidgetZ, j, 3).toDouble() - matrix[size_t(j)][3].get<double>()) < 3.0,
               qUtf8Printable(Cell(ui->TableWidgetZ, j, 3)));
      for (int k = 0; k < 3; ++k) {
        QVERIFY(std::abs(Cell(ui->TableWidgetZ, j, k).toDouble() - matrix[size_t(j)][size_t(k)].get<double>()) < 0.005);
      }
      QVERIFY(std::abs(Cell(ui->TableWidgetX, 0, j).toDouble() - truth["markerMm"][size_t(j)].get<double>()) < 3.0);
    }

    // "保存" writes the settings and the three result tables.
    QTemporaryDir out;
    dialogs->path = out.filePath("result.csv");
    ui->PushButtonSave->click();
    QCOMPARE(dialogs->shown, QStringList({"提示|数据导出成功.|OK"}));
    QCOMPARE(dialogs->pickers.last(), QString("选择保存路径|Robot Data Files (*.csv)"));
    const QByteArray saved = ReadText(dialogs->path);
    QVERIFY(
        saved.startsWith("HandEyeType:0\nRobotType:FANUC [X,Y,Z]mm|[W P R]deg\nIsMeter:0\nIsRadian:0\nExhaust:0\n"
                         "RansacDist:0.001\nMarkerType:\xCD\xAC\xD0\xC4\xD4\xB2\nCovariance:"));
    QVERIFY(saved.contains("\nEND:\nX,Y,Z,R1,R2,R3,\n"));
    QVERIFY(
        saved.contains("\n\n\xC1\xD0"
                       "1,\xC1\xD0"
                       "2,\xC1\xD0"
                       "3,\xC1\xD0"
                       "4,\n"));  // GB2312 "列"
    QVERIFY(saved.endsWith("\n\n"));
    // Importing that result file would put the camera row and matrix into the pose rows: refused, and
    // nothing changes.
    ExpectImportRefused();
  }

  // "同心圆(平面拟合)" in the marker box: the batch fits each centre on the board plane, to hundredths of a
  // pixel where the centroids are off by tenths; the choice travels in the parameter file, and a file
  // without it is one made with the centroids.
  void fittedCentresFromTheMarkerBox() {
    QCOMPARE(ui->MakerSelect->currentText(), QString("同心圆(平面拟合)"));  // the default
    PickFolders(Images(), Clouds());
    ui->CalculateMarker->click();
    QVERIFY_NO_BOX(dialogs);
    QCOMPARE(MainWindowTester::MarkerResults(*window).size(), size_t(12));
    double worst = 0.0;
    for (int i = 0; i < 12; ++i) {
      const auto& record = MainWindowTester::MarkerResults(*window)[size_t(i)];
      const auto& centre = truth["imageCentresPx"][size_t(i)];
      worst = std::max(worst, std::hypot(record.u - centre[0].get<double>(), record.v - centre[1].get<double>()));
    }
    QVERIFY2(worst < 0.05, qUtf8Printable(QString::number(worst)));

    // The batch's normals go into the calculation; a row edited by hand counts as a point only.
    dialogs->path = data.filePath("robot.txt");
    ui->RobotParamPathBtn->click();
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);
    QVERIFY2(ui->TextDiagnosis->toPlainText().contains("求解模型：标记点 + 标定板法向（12/12 个位姿含法向"),
             qUtf8Printable(ui->TextDiagnosis->toPlainText()));
    ui->ParamList->item(3, 0)->setText(ui->ParamList->item(3, 0)->text() + "1");
    ui->CalculateBtn->click();
    QVERIFY2(ui->TextDiagnosis->toPlainText().contains("（11/12 个位姿含法向"),
             qUtf8Printable(ui->TextDiagnosis->toPlainText()));
    // "验证" of the same rows judges their normals by the calculation's board plane too.
    dialogs->shown.clear();
    ui->VerifyBtn->click();
    const QString shown = dialogs->shown.join("\n");
    QVERIFY2(shown.contains("其中 11 组带标定板法向") && !shown.contains("漂移"), qUtf8Printable(shown));

    QTemporaryDir out;
    dialogs->path = out.filePath("fitted.csv");
    ui->ExportBtn->click();
    const QByteArray written = ReadText(dialogs->path);
    QVERIFY(written.contains("\nMarkerType:\xCD\xAC\xD0\xC4\xD4\xB2(\xC6\xBD\xC3\xE6\xC4\xE2\xBA\xCF)\nEND:\n"));
    MainWindow other(nullptr, dialogs);
    QMetaObject::invokeMethod(&other, "slotInputBtn");
    QCOMPARE(MainWindowTester::Form(other).MakerSelect->currentIndex(), 1);
    QByteArray older = written;
    older.replace(QByteArray("MarkerType:\xCD\xAC\xD0\xC4\xD4\xB2(\xC6\xBD\xC3\xE6\xC4\xE2\xBA\xCF)\n"), QByteArray());
    QVERIFY(WriteText(dialogs->path, older));
    QMetaObject::invokeMethod(&other, "slotInputBtn");
    QCOMPARE(MainWindowTester::Form(other).MakerSelect->currentIndex(), 0);
  }

  // "生成标定位姿" from the table's first row: a first stage, its shots (seen where the rendered truth puts the
  // marker) back in the table, then the full plan from them, saved as a FANUC program and put into the table.
  void planFromTheTaughtRowThenFromTheFirstStage() {
    ui->RobotSelect->setCurrentIndex(2);  // FANUC
    std::ifstream robotFile(data.filePath("robot.txt").toStdString());
    std::string line;
    std::getline(robotFile, line);
    const auto& m = truth["camera"]["matrixMm"];
    Eigen::Matrix4d camera;
    for (int r = 0; r < 4; ++r) {
      for (int c = 0; c < 4; ++c) camera(r, c) = m[size_t(r)][size_t(c)];
    }
    const Eigen::Vector4d marker(truth["markerMm"][0], truth["markerMm"][1], truth["markerMm"][2], 1.0);
    const auto seen = [&](const std::array<double, 16>& flange) {  // the marker in the camera, metres
      const Eigen::Matrix4d f = Eigen::Map<const Eigen::Matrix<double, 4, 4, Eigen::RowMajor>>(flange.data());
      return Eigen::Vector3d(((f * camera).inverse() * marker).head<3>() / 1000.0);
    };
    // The taught row: the first pose, its marker where the camera sees it.
    ui->AddBtn->click();
    QTableWidget* table = ui->ParamList;
    const std::vector<double> taught = MainWindow::NumbersIn(QString::fromStdString(line));
    for (int c = 0; c < 6; ++c)
      table->setItem(0, 4 + c, new QTableWidgetItem(QString::number(taught[size_t(c)], 'g', 10)));
    ui->PlanBtn->click();
    auto* dialog = window->findChild<QDialog*>("PlanDialog");
    QVERIFY(dialog != nullptr);
    QCOMPARE(dialog->findChild<QLineEdit*>("PlanTaught")->text().split(' ').size(), 6);
    dialog->findChild<QPushButton*>("PlanRun")->click();
    QCOMPARE(dialogs->shown, QStringList({"生成失败|请填写示教位姿拍到的标记位置 X Y Z (米)!|OK"}));
    dialogs->shown.clear();
    std::vector<std::vector<double>> matrix;
    QCOMPARE(TamoHandEye::RobotRowToMatrix(TamoHandEye::RobotKind::Fanuc, "", TamoHandEye::AlgoParam{}, taught, matrix),
             TamoHandEye::Success);
    std::array<double, 16> first{};
    for (std::size_t k = 0; k < 16; ++k) first[k] = matrix[k / 4][k % 4];
    const Eigen::Vector3d p = seen(first);
    dialog->findChild<QLineEdit*>("PlanMarker")
        ->setText(QString("%1 %2 %3").arg(p.x(), 0, 'g', 12).arg(p.y(), 0, 'g', 12).arg(p.z(), 0, 'g', 12));
    dialog->findChild<QPushButton*>("PlanRun")->click();
    QVERIFY_NO_BOX(dialogs);
    const TamoHandEye::PosePlan& stage = MainWindowTester::Plan(*window);
    QVERIFY(stage.firstStage);
    QCOMPARE(dialog->findChild<QTableWidget*>("PlanTable")->rowCount(), 6);
    // Its rows into the table, the markers the shots would see beside them.
    dialog->findChild<QPushButton*>("PlanFill")->click();
    QCOMPARE(table->rowCount(), 6);
    for (int r = 0; r < 6; ++r) {
      const Eigen::Vector3d q = seen(stage.poses[size_t(r)].matrix);
      for (int c = 0; c < 3; ++c) table->setItem(r, c, new QTableWidgetItem(QString::number(q(c), 'g', 12)));
    }
    dialogs->shown.clear();
    dialog->findChild<QPushButton*>("PlanRun")->click();
    QVERIFY_NO_BOX(dialogs);
    const QString summary = dialog->findChild<QLabel*>("PlanSummary")->text();
    QVERIFY2(summary.contains("由参数表中已有的 6 组数据求得相机后生成: 15 个位姿") &&
                 summary.contains("运行前请检查可达性和碰撞"),
             qUtf8Printable(summary));
    QCOMPARE(dialog->findChild<QTableWidget*>("PlanTable")->rowCount(), 15);
    QTemporaryDir out;
    dialogs->path = out.filePath("calib.ls");
    dialog->findChild<QPushButton*>("PlanSave")->click();
    QCOMPARE(dialogs->shown.last(), QString("提示|程序已保存, 运行前请检查可达性和碰撞.|OK"));
    const QByteArray program = ReadText(dialogs->path);
    QVERIFY(program.contains("P[15]{") && program.contains("collisions"));
    dialog->findChild<QPushButton*>("PlanFill")->click();  // asks before replacing the robot columns
    QCOMPARE(table->rowCount(), 15);
    QVERIFY(std::abs(table->item(14, 4)->text().toDouble() - MainWindowTester::Plan(*window).poses[14].row[0]) < 1e-6);
  }

  void failingPairsAreListedAndTheOthersFilled() {
    QTemporaryDir copy;
    const QString root = CopyOfShots(copy, 6);
    PickFolders(root + "/images", root + "/clouds");
    QVERIFY(QFile::remove(root + "/clouds/shot_1.ply"));  // pair 2: cloud gone
    QImage blank(800, 600, QImage::Format_Grayscale8);
    blank.fill(180);
    QVERIFY(blank.save(root + "/images/shot_3.png"));                                        // pair 4: no marker
    QVERIFY(WriteText(root + "/clouds/shot_4.ply", "ply\nformat ascii 1.0\nend_header\n"));  // pair 5: unreadable
    QVERIFY(WriteText(root + "/images/shot_5.png", "a note, not an image"));                 // pair 6: image unreadable
    ui->CalculateMarker->click();
    // Which file could not be used, and why, follows the code's message.
    const QString expected =
        QString(
            "求解标记位置时发生了错误:\n"
            "第2组数据检测失败, 错误信息:无法找到目标文件%1//shot_1.ply\n"
            "第4组数据检测失败, 错误信息:%2\n"
            "第5组数据检测失败, 错误信息:%3 (%1//shot_4.ply: the element \"vertex\" is missing)\n"
            "第6组数据检测失败, 错误信息:无法读取2D图片%4//shot_5.png: not an image file that can be decoded\n")
            .arg(root + "/clouds", ParseCode(101), ParseCode(107), root + "/images");
    QCOMPARE(dialogs->shown, QStringList({"错误|" + expected}));
    QTableWidget* table = ui->ParamList;
    QCOMPARE(table->rowCount(), 6);
    for (int r : {0, 2}) QVERIFY(Cell(table, r, 0).toDouble() != 0.0);
    for (int r : {1, 3, 4, 5}) QCOMPARE(Cell(table, r, 0), QString(""));
    QVERIFY(std::isnan(MainWindowTester::MarkerResults(*window)[1].u));
    QVERIFY(!ui->Image2DDisplay->item(3)->data(Qt::UserRole).isValid());
  }

  void cancelAfterTheSecondPairFillsTwoRows() {
    QTemporaryDir copy;
    const QString root = CopyOfShots(copy, 5);
    PickFolders(root + "/images", root + "/clouds");
    dialogs->cancelAtValue = 40;  // shown after pair 2 of 5
    ui->CalculateMarker->click();
    QCOMPARE(dialogs->progressValues, QList<int>({20, 40}));
    QCOMPARE(MainWindowTester::MarkerResults(*window).size(), size_t(2));
    QCOMPARE(ui->ParamList->rowCount(), 2);
    QVERIFY(Cell(ui->ParamList, 1, 2).toDouble() > 0.1);
  }

  void unequalCountsAreRefusedBeforeAnyDialog() {
    QTemporaryDir copy;
    const QString root = CopyOfShots(copy, 4);
    QVERIFY(QFile::remove(root + "/images/shot_3.png"));
    PickFolders(root + "/images", root + "/clouds");
    ui->AddBtn->click();
    ui->ParamList->setItem(0, 0, new QTableWidgetItem("1"));
    dialogs->answer = false;  // overwrite the marker values? no
    ui->CalculateMarker->click();
    QCOMPARE(dialogs->questions, QStringList({"此操作将会覆盖参数列表的部分数据"}));
    QVERIFY(dialogs->shown.isEmpty());
    dialogs->answer = true;
    ui->CalculateMarker->click();
    QCOMPARE(dialogs->shown, QStringList({"提示|2D图片数据和3D图片数据数量不匹配,请检查图片后重新导入|OK"}));
    QVERIFY(dialogs->progressLabels.isEmpty());
    QVERIFY(MainWindowTester::MarkerResults(*window).empty());
  }

  void exportThenImportRestoresEverything() {
    QTemporaryDir out;
    ui->RobotSelect->setCurrentIndex(6);  // ABB quaternions: 12 columns
    ui->AlgoType1->setChecked(true);
    ui->CheckBoxExhaust->setChecked(true);
    ui->DSpinBoxMaxDist->setValue(0.0035);
    for (int r = 0; r < 3; ++r) {
      ui->AddBtn->click();
      for (int c : {0, 1, 2, 4, 5, 6, 7, 8, 9, 10}) {
        ui->ParamList->setItem(r, c, new QTableWidgetItem(QString::number(r * 100 + c + 0.125)));
      }
    }
    dialogs->path = out.filePath("params.csv");
    ui->ExportBtn->click();
    QCOMPARE(dialogs->shown, QStringList({"提示|数据导出成功.|OK"}));
    const QByteArray written = ReadText(dialogs->path);
    QVERIFY(written.contains("RobotType:ABB [X,Y,Z]mm|[Q1 Q2 Q3 Q4]deg\n"));
    QVERIFY(written.contains("0.125,1.125,2.125,,4.125,5.125,6.125,7.125,8.125,9.125,10.125,,\n"));

    MainWindow other(nullptr, dialogs);
    Ui::MainWindow& again = MainWindowTester::Form(other);
    MainWindowTester::MarkerResults(other).resize(3);
    again.tabWidget->setTabEnabled(1, true);
    QMetaObject::invokeMethod(&other, "slotInputBtn");
    QCOMPARE(dialogs->pickers.last(), QString("选择导入数据|Robot Data Files (*.txt *.data *.csv)"));
    QCOMPARE(dialogs->shown.size(), 1);
    QCOMPARE(again.RobotSelect->currentIndex(), 6);
    QVERIFY(again.AlgoType1->isChecked() && again.CheckBoxExhaust->isChecked() && again.DSpinBoxMaxDist->isEnabled());
    QVERIFY(!again.CheckBoxIsm->isChecked() && !again.CheckBoxRadian->isChecked());
    QCOMPARE(again.DSpinBoxMaxDist->value(), 0.0035);
    QCOMPARE(again.ParamList->rowCount(), 3);
    for (int r = 0; r < 3; ++r) {
      for (int c = 0; c < 12; ++c) QCOMPARE(Cell(again.ParamList, r, c), Cell(ui->ParamList, r, c));
      QVERIFY(again.ParamList->cellWidget(r, 11) != nullptr);
    }
    QVERIFY(MainWindowTester::MarkerResults(other).empty());
    QVERIFY(!again.tabWidget->isTabEnabled(1));

    // A shorter file over a longer one leaves nothing of it.
    ui->ParamList->setRowCount(1);
    ui->ExportBtn->click();
    QVERIFY(ReadText(dialogs->path).endsWith(",,\n\n"));
    QCOMPARE(ReadText(dialogs->path).count('\n'), 8 + 1 + 1 + 1);
  }

  void importedSettingsAndRefusals() {
    QTemporaryDir out;
    const QString path = out.filePath("in.csv");
    dialogs->path = path;
    // Settings in any order, an unknown robot type, empty fields (empty cells: nothing of the table before
    // stays), extra fields, a blank line.
    const QByteArray header = "X,Y,Z,\xB2\xD9\xD7\xF7,X,Y,Z,R1,R2,R3,\xB2\xD9\xD7\xF7,\n";  // GB2312 "操作"
    ui->RobotSelect->setCurrentIndex(4);
    for (int r = 0; r < 3; ++r) {
      ui->ParamList->insertRow(r);
      for (int c : {0, 1, 2, 4, 5}) ui->ParamList->setItem(r, c, new QTableWidgetItem("960.8"));
    }
    QVERIFY(WriteText(path, "IsRadian:1\nRobotType:SOMETHING ELSE\nEND:\n" + header +
                                "1,,,9,5,6,7,8,9,10,11,12,13,14,\n\n2,3,4,,,6,7,8,9,10,\n"));
    ui->InputBtn->click();
    QVERIFY_NO_BOX(dialogs);
    QCOMPARE(ui->RobotSelect->currentIndex(), 0);
    QVERIFY(ui->CheckBoxRadian->isChecked());
    QCOMPARE(ui->ParamList->rowCount(), 2);
    QCOMPARE(Cell(ui->ParamList, 0, 0), QString("1"));
    QCOMPARE(Cell(ui->ParamList, 0, 1), QString("<none>"));
    QCOMPARE(Cell(ui->ParamList, 0, 2), QString("<none>"));
    QCOMPARE(Cell(ui->ParamList, 0, 3), QString("<none>"));  // the button column is never filled
    QCOMPARE(Cell(ui->ParamList, 0, 9), QString("10"));
    QCOMPARE(Cell(ui->ParamList, 1, 1), QString("3"));
    QCOMPARE(Cell(ui->ParamList, 1, 4), QString("<none>"));  // not the 960.8 that was there

    // A typo, a row cut short, a file of no rows: refused, naming the row and column; nothing changes.
    ui->CheckBoxRadian->setChecked(false);
    for (const auto& [content, message] : std::vector<std::pair<QByteArray, QString>>{
             {"IsRadian:1\nIsMeter:0\nHandEyeType:0\nEND:\n" + header +
                  "1,2,3,,4,5,6,7,8,9,\n1,2,3,,1O60.7986,5,6,7,8,9,\n",
              "第2行第5列不是数字, 未导入任何数据!"},
             {"IsRadian:1\nIsMeter:0\nHandEyeType:0\nEND:\n" + header + "1,2,3,,4,5,\n",
              "第1行只有6列, 少于表格的10列, 未导入任何数据!"},
             {"IsRadian:1\nIsMeter:0\nHandEyeType:0\nEND:\n" + header, "文件没有数据行, 未导入任何数据!"},
             {"IsRadian:1\nIsMeter:0\nHandEyeType:0\nEND:\n" + header +
                  QByteArray("1,2,3,,4,5,6,7,8,9,\n").repeated(2001),
              "文件有2001行, 多于表格最多的2000行, 未导入任何数据!"}}) {
      dialogs->shown.clear();
      QVERIFY(WriteText(path, content));
      ui->InputBtn->click();
      QCOMPARE(dialogs->shown, QStringList({"提示|" + message + "|OK"}));
      QVERIFY(!ui->CheckBoxRadian->isChecked());
      QCOMPARE(ui->ParamList->rowCount(), 2);
      QCOMPARE(Cell(ui->ParamList, 0, 0), QString("1"));
    }
    dialogs->shown.clear();

    // Tables that are not the parameter table: a header of other columns, no table at all, and a
    // parameter header whose robot columns do not fit the type the file names.
    ui->CheckBoxExhaust->setChecked(false);
    for (const QByteArray& other :
         {QByteArray("Exhaust:1\nHandEyeType:1\nEND:\nX,Y,Z,\n1,2,3,\n"),
          QByteArray("Exhaust:1\nRobotType:XYZR1R2R3\nHandEyeType:1\nIsMeter:1\nEND:\n\n\n"),
          QByteArray("Exhaust:1\nRobotType:XYZR1R2R3R4\nEND:\nX,Y,Z,\xB2\xD9\xD7\xF7,X,Y,Z,R1,"
                     "R2,R3,\xB2\xD9\xD7\xF7,\n1,2,3,,4,5,6,7,8,9,,\n")}) {
      QVERIFY(WriteText(path, other));
      ExpectImportRefused();
    }

    // A file naming a four-value type while rows are present: refusing the question fails the read.
    QVERIFY(WriteText(path,
                      "RobotType:XYZR1R2R3R4\nHandEyeType:1\nEND:\nX,Y,Z,\xB2\xD9\xD7\xF7,X,Y,Z,R1,R2,R3,R4,"
                      "\xB2\xD9\xD7\xF7,\n1,2,3,,4,5,6,7,8,9,10,\n"));
    dialogs->answer = false;
    dialogs->shown.clear();
    ui->InputBtn->click();
    QCOMPARE(dialogs->shown, QStringList({"提示|文件读取失败|OK"}));
    QCOMPARE(ui->RobotSelect->currentIndex(), 0);
    QVERIFY(ui->AlgoType0->isChecked());

    for (const QByteArray& bad :
         {QByteArray("HandEyeType:1\nIsMeter:1\nExhaust:1\nRansacDist:0.002\nX,Y,Z,\n1,2,3,\n"),
          QByteArray("HandEyeType:1\nnocolon\nEND:\nX,\n1,\n"), QByteArray("A:1\nEND:\n\n\n")}) {
      dialogs->shown.clear();
      QVERIFY(WriteText(path, bad));
      ui->InputBtn->click();
      QCOMPARE(dialogs->shown, QStringList({"提示|文件读取失败|OK"}));
    }
    dialogs->shown.clear();
    dialogs->path = out.filePath("missing.csv");
    ui->InputBtn->click();
    QCOMPARE(dialogs->shown, QStringList({"提示|文件读取失败|OK"}));
  }

  void commandLineResultFileIsNotImported() {
    // The command line's "--save" writes the result file "保存" writes: a result file, not a parameter file.
    TamoHandEye::FinalResult result;
    result.cameraPose = {1.5, 2, 3, 4, 5, 6};
    result.cameraMatrix = {{1, 0, 0, 1.5}, {0, 1, 0, 2}, {0, 0, 1, 3}, {0, 0, 0, 1}};
    result.markerPosition = {7, 8, 9.25};
    TamoHandEye::AlgoParam param;
    param.HandEyeType = 1;
    QTemporaryDir out;
    const QString path = out.filePath("cli.csv");
    const TarnWorkflow::FileSettings settings{param.HandEyeType,
                                              TarnWorkflow::FindRobotType("kuka")->text,
                                              false,
                                              false,
                                              false,
                                              0.0,
                                              TarnWorkflow::FittedMarkerText()};
    QVERIFY(TarnWorkflow::WriteSettingsFile(path.toStdString(), settings, TarnWorkflow::ResultTables(result)));
    ui->AddBtn->click();
    ui->ParamList->setItem(0, 4, new QTableWidgetItem("250"));
    dialogs->path = path;
    ExpectImportRefused();
  }

  void failedWriteKeepsTheEarlierFile() {
    QTemporaryDir out;
    const QString path = out.filePath("keep.csv");
    const QByteArray earlier(4096, 'e');
    QVERIFY(WriteText(path, earlier));
    for (int r = 0; r < 50; ++r) {
      ui->AddBtn->click();
      ui->ParamList->setItem(r, 0, new QTableWidgetItem("123456.789"));
    }
    dialogs->path = path;
    // The disk fills up after 200 bytes of the new file.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{200, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    ui->ExportBtn->click();
    setrlimit(RLIMIT_FSIZE, &limit);
    QCOMPARE(dialogs->shown, QStringList({"警告|数据保存失败!|OK"}));
    QCOMPARE(ReadText(path), earlier);
    QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList({"keep.csv"}));  // no temporary left

    // A folder cannot be written as a file: the result tab's wording.
    dialogs->shown.clear();
    dialogs->path = out.path();
    QMetaObject::invokeMethod(window.get(), "slotSaveResultBtn");
    QCOMPARE(dialogs->shown, QStringList({"警告|数据导出失败!|OK"}));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);
  WorkflowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "WorkflowTest.moc"
