// SPDX-License-Identifier: Apache-2.0
// "计算" and "再计算": the parameter table goes to the library, and the residual table, its colours, the
// labels, the plots and the result tab show what came back.

#include "HandEyeScene.h"
#include "ResidualPlot.h"
#include "WindowUnderTest.h"

#include <tarn/ErrorCode.h>
#include <tarn/PoseSuggestion.h>
#include <tarn/SolveFinalResult.h>

#include <QCheckBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

using TarnSim::RowFormat;

QString Text(QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item ? item->text() : QString("<none>");
}

double Value(QTableWidget* table, int row, int column) { return Text(table, row, column).toDouble(); }

QColor Background(QTableWidget* table, int row, int column) { return table->item(row, column)->background().color(); }

QCheckBox* Box(QTableWidget* residuals, int row) { return qobject_cast<QCheckBox*>(residuals->cellWidget(row, 0)); }

}  // namespace

class CalculationTest : public QObject, private WindowUnderTest {
  Q_OBJECT

  // Types the scene's markers (metres) and robot rows into the parameter table.
  void Fill(const TarnSim::Scene& scene, RowFormat format, bool meter = false, bool radian = false) {
    const auto rows = TarnSim::RobotRows(scene, format, meter, radian);
    QTableWidget* table = ui->ParamList;
    for (size_t i = 0; i < rows.size(); ++i) {
      ui->AddBtn->click();
      const int r = static_cast<int>(i);
      const Eigen::Vector3d& p = scene.points[i];
      for (int c = 0; c < 3; ++c) table->setItem(r, c, new QTableWidgetItem(QString::number(p[c], 'g', 17)));
      for (size_t j = 0; j < rows[i].size(); ++j) {
        table->setItem(r, 4 + static_cast<int>(j), new QTableWidgetItem(QString::number(rows[i][j], 'g', 17)));
      }
    }
  }

  // The camera matrix and marker of the result tab against the scene's truth, millimetres.
  void CompareWithTruth(const TarnSim::Scene& scene, double mm, double rotation) {
    QTableWidget* matrix = ui->TableWidgetZ;
    for (int j = 0; j < 3; ++j) {
      QVERIFY2(std::abs(Value(matrix, j, 3) - 1000.0 * scene.camera.translation()[j]) < mm,
               qUtf8Printable(Text(matrix, j, 3)));
      for (int k = 0; k < 3; ++k) QVERIFY(std::abs(Value(matrix, j, k) - scene.camera.linear()(j, k)) < rotation);
    }
    QCOMPARE(Text(matrix, 3, 3), QString("1"));
    for (int j = 0; j < 3; ++j) QVERIFY(std::abs(Value(ui->TableWidgetX, 0, j) - 1000.0 * scene.marker[j]) < mm);
  }

 private slots:
  void init() { Open(); }
  void cleanup() { Close(); }

  void colourScale() {
    QCOMPARE(MainWindow::ResidualColor(0.0), QColor(0, 255, 128));
    QCOMPARE(MainWindow::ResidualColor(0.25), QColor(127, 255, 64));
    QCOMPARE(MainWindow::ResidualColor(0.5), QColor(255, 255, 0));
    QCOMPARE(MainWindow::ResidualColor(0.75), QColor(255, 128, 0));
    QCOMPARE(MainWindow::ResidualColor(1.0), QColor(255, 0, 0));
    QCOMPARE(MainWindow::ResidualColor(-3.0), QColor(0, 255, 128));
    QCOMPARE(MainWindow::ResidualColor(7.0), QColor(255, 0, 0));
    QCOMPARE(MainWindow::ResidualColor(std::nan("")), QColor(0, 255, 128));
  }

  void residualPlotsShowEveryPoint() {
    // At least -10..10 mm on both axes, wider when a residual lies outside, the same range on both.
    ResidualPlot plot("xy(mm)");
    plot.resize(300, 300);
    plot.Show({QPointF(1.5, -2.0)});
    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
      QVERIFY(plot.axisInterval(axis).minValue() <= -10.0 && plot.axisInterval(axis).maxValue() >= 10.0);
      QVERIFY(plot.axisInterval(axis).maxValue() < 20.0);
    }
    plot.Show({QPointF(153.0, -4.0), QPointF(-2.0, -87.5)});
    for (int axis : {QwtPlot::xBottom, QwtPlot::yLeft}) {
      QVERIFY2(plot.axisInterval(axis).contains(153.0) && plot.axisInterval(axis).contains(-153.0),
               qPrintable(QString("axis %1: %2 .. %3")
                              .arg(axis)
                              .arg(plot.axisInterval(axis).minValue())
                              .arg(plot.axisInterval(axis).maxValue())));
    }
  }

  void emptyOrBadCellsStopBeforeTheLibrary() {
    ui->CalculateBtn->click();
    QCOMPARE(dialogs->shown, QStringList({"计算失败|数据不能为空!|OK"}));

    Fill(TarnSim::MakeScene({}), RowFormat::Kuka);
    QTableWidget* table = ui->ParamList;
    const QString kept = Text(table, 1, 4);
    table->item(1, 4)->setText("");
    dialogs->shown.clear();
    ui->CalculateBtn->click();
    QCOMPARE(dialogs->shown, QStringList({"计算失败|第2行5列数据为空!|OK"}));
    table->item(1, 4)->setText(kept);

    // A typo is not read as 0.
    for (const QString bad : {"1,5", "12a", "inf", "nan"}) {
      dialogs->shown.clear();
      table->item(0, 1)->setText(bad);
      ui->CalculateBtn->click();
      QCOMPARE(dialogs->shown, QStringList({"计算失败|第1行2列数据不是有效数字!|OK"}));
    }
    QVERIFY(!ui->tabWidget->isTabEnabled(1));
    QCOMPARE(ui->tabWidget->currentIndex(), 0);
  }

  void calculationShowsResidualsAndTheResult() {
    const TarnSim::Scene scene = TarnSim::MakeScene({});
    ui->RobotSelect->setCurrentIndex(2);  // FANUC
    Fill(scene, RowFormat::Fanuc);
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);

    QCOMPARE(ui->tabWidget->currentIndex(), 1);
    QVERIFY(ui->tabWidget->isTabEnabled(1) && ui->tabWidget->isTabEnabled(2));
    QTableWidget* residuals = ui->TableWidgetResidual;
    QCOMPARE(residuals->rowCount(), 12);
    QCOMPARE(residuals->horizontalHeaderItem(1)->text(), QString("误差(mm)"));
    QVERIFY(residuals->verticalHeader()->isHidden());
    for (int r = 0; r < 12; ++r) {
      QCOMPARE(Box(residuals, r)->text(), QString::number(r + 1));
      QVERIFY(Box(residuals, r)->isChecked());
      QVERIFY(std::abs(Value(residuals, r, 1)) < 1e-6);
    }
    QVERIFY(std::abs(ui->LabelRMS->text().toDouble()) < 1e-6);
    QVERIFY(ui->LabelMax->text() != "TextLabel");
    for (int p = 0; p < 3; ++p) QCOMPARE(MainWindowTester::Plot(*window, p)->Points().size(), 12);

    QCOMPARE(ui->GroupBoxCamera->title(), QString("相机在法兰下的位姿"));
    QCOMPARE(ui->GroupBoxMarker->title(), QString("标记在基座下的位姿"));
    QCOMPARE(ui->TableWidgetZV->columnCount(), 6);
    for (int c = 0; c < 3; ++c) QCOMPARE(Text(ui->TableWidgetZV, 0, c), Text(ui->TableWidgetZ, c, 3));
    CompareWithTruth(scene, 1e-3, 1e-5);
  }

  void eyeToHandAndFourValueRowsChangeTheResultTab() {
    TarnSim::SceneOptions options;
    options.eyeToHand = true;
    const TarnSim::Scene scene = TarnSim::MakeScene(options);
    ui->RobotSelect->setCurrentIndex(1);  // quaternion rows, scalar last here
    ui->AlgoType1->setChecked(true);
    Fill(scene, RowFormat::Xyzw);
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);
    QCOMPARE(ui->GroupBoxCamera->title(), QString("相机在基座下的位姿"));
    QCOMPARE(ui->GroupBoxMarker->title(), QString("标记在法兰下的位姿"));
    QCOMPARE(ui->TableWidgetZV->columnCount(), 7);
    QCOMPARE(ui->TableWidgetZV->horizontalHeaderItem(6)->text(), QString("R4"));
    CompareWithTruth(scene, 1e-3, 1e-5);
    // A quaternion of zeros in the third row is no rotation at all: refused, naming that row.
    const QString kept = ui->LabelRMS->text();
    for (int c = 7; c < 11; ++c) ui->ParamList->item(2, c)->setText("0");
    ui->CalculateBtn->click();
    QCOMPARE(dialogs->shown, QStringList({"警告|第3行机器人数据的四元数长度为0, 请检查该行!"}));
    QCOMPARE(ui->LabelRMS->text(), kept);
    dialogs->shown.clear();

    // UR rows: six values again, under the generic headers.
    ui->RobotSelect->setCurrentIndex(7);
    ui->ParamList->setRowCount(0);
    Fill(scene, RowFormat::Ur, false, true);
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);
    QCOMPARE(ui->TableWidgetZV->columnCount(), 6);
    QCOMPARE(ui->TableWidgetZV->horizontalHeaderItem(5)->text(), QString("R3"));
    CompareWithTruth(scene, 1e-3, 1e-5);
  }

  void libraryFailureChangesNothing() {
    const TarnSim::Scene good = TarnSim::MakeScene({});
    ui->RobotSelect->setCurrentIndex(4);
    Fill(good, RowFormat::Kuka);
    ui->CalculateBtn->click();
    const QString rms = ui->LabelRMS->text();
    const QString cameraX = Text(ui->TableWidgetZV, 0, 0);
    const std::vector<double> pose = MainWindowTester::LastResult(*window).cameraPose;
    ui->tabWidget->setCurrentIndex(0);

    // Pure translations cannot fix the camera's rotation: the library refuses.
    TarnSim::SceneOptions options;
    options.motion = TarnSim::Motion::TranslationOnly;
    const TarnSim::Scene degenerate = TarnSim::MakeScene(options);
    const auto rows = TarnSim::RobotRows(degenerate, RowFormat::Kuka);
    for (int r = 0; r < 12; ++r) {
      for (int j = 0; j < 6; ++j)
        ui->ParamList->item(r, 4 + j)->setText(QString::number(rows[size_t(r)][size_t(j)], 'g', 17));
    }
    ui->CalculateBtn->click();
    const QString message = QString::fromUtf8(TamoHandEye::parseCode(TamoHandEye::ErrorCode(201)));
    QCOMPARE(dialogs->shown, QStringList({"警告|计算出错, 错误信息:" + message}));
    QCOMPARE(ui->tabWidget->currentIndex(), 0);
    QCOMPARE(ui->LabelRMS->text(), rms);
    QCOMPARE(Text(ui->TableWidgetZV, 0, 0), cameraX);
    QVERIFY(MainWindowTester::LastResult(*window).cameraPose == pose);

    dialogs->shown.clear();
    QVERIFY(!MainWindowTester::Calculate(*window, 8));
    QCOMPARE(dialogs->shown, QStringList({"错误|不存在的机器人类型!"}));
  }

  void dropsAndEqualResidualsAreColoured() {
    // A result as the library would send it after the pose search dropped pose 2.
    TamoHandEye::FinalResult result;
    result.residuals = {{1.0, 1.0, 0.0, 0.0}, {1.0, 0.0, 1.0, 0.0}, {9.0, 0.0, 0.0, 9.0}, {1.0, 0.0, 0.0, -1.0}};
    result.mask = {255, 255, 0, 255};
    result.rmsError = 1.0;
    result.maxError = 1.0;
    result.cameraPose = {1, 2, 3, 4, 5, 6};
    result.cameraMatrix = {{1, 0, 0, 1}, {0, 1, 0, 2}, {0, 0, 1, 3}, {0, 0, 0, 1}};
    result.markerPosition = {7, 8, 9};
    emit window->signalCalculateResultSend(result);

    QTableWidget* residuals = ui->TableWidgetResidual;
    QVERIFY(!Box(residuals, 2)->isChecked());
    QCOMPARE(Text(residuals, 2, 1), QString("9"));
    for (int c = 1; c <= 4; ++c) {
      QCOMPARE(Background(residuals, 2, c), QColor(200, 200, 200));
      QCOMPARE(Background(residuals, 0, c), QColor(0, 255, 128));  // all taking part equally far: low end
      QCOMPARE(Background(residuals, 3, c), QColor(0, 255, 128));
    }
    QCOMPARE(MainWindowTester::Plot(*window, 2)->Points(),
             QVector<QPointF>({QPointF(0, 0), QPointF(1, 0), QPointF(0, -1)}));
    QCOMPARE(ui->LabelMax->text(), QString("1"));
    QCOMPARE(Text(ui->TableWidgetX, 0, 2), QString("9"));
    QCOMPARE(Text(ui->TableWidgetZ, 1, 3), QString("2"));

    // Different distances: smallest blue-green, largest red, between on the scale.
    result.residuals[1].distance = 3.0;
    result.residuals[3].distance = 2.0;
    emit window->signalCalculateResultSend(result);
    QCOMPARE(Background(residuals, 0, 1), QColor(0, 255, 128));
    QCOMPARE(Background(residuals, 1, 4), QColor(255, 0, 0));
    QCOMPARE(Background(residuals, 3, 2), QColor(255, 255, 0));
  }

  void poseSearchDropsThePlantedOutlier() {
    TarnSim::SceneOptions options;
    options.poses = 15;
    options.pointNoise = 0.0002;
    options.outliers = {3};
    const TarnSim::Scene scene = TarnSim::MakeScene(options);
    ui->RobotSelect->setCurrentIndex(2);
    Fill(scene, RowFormat::Fanuc);
    ui->CheckBoxExhaust->setChecked(true);
    ui->DSpinBoxMaxDist->setValue(0.002);
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);
    QTableWidget* residuals = ui->TableWidgetResidual;
    for (int r = 0; r < 15; ++r) QCOMPARE(Box(residuals, r)->isChecked(), r != 3);
    QVERIFY(Value(residuals, 3, 1) > 20.0);  // still shown
    QCOMPARE(Background(residuals, 3, 1), QColor(200, 200, 200));
    QCOMPARE(MainWindowTester::Plot(*window, 0)->Points().size(), 14);
    CompareWithTruth(scene, 2.0, 5e-3);

    // At 0 ("自动") the distance follows the data; the 诊断 box lists the dropped pose and why.
    ui->DSpinBoxMaxDist->setValue(0.0);
    QCOMPARE(ui->DSpinBoxMaxDist->text(), QString("自动"));
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);
    for (int r = 0; r < 15; ++r) QCOMPARE(Box(residuals, r)->isChecked(), r != 3);
    const QString diagnosis = ui->TextDiagnosis->toPlainText();
    QVERIFY2(diagnosis.contains("（按数据自身噪声确定），剔除 1 个位姿。") && diagnosis.contains("第 4 个位姿：残差"),
             qUtf8Printable(diagnosis));
  }

  void resultTabShowsTheReport() {
    TarnSim::SceneOptions options;
    options.poses = 15;
    options.pointNoise = 0.0002;
    options.outliers = {3};
    options.outlierOffset = 0.02;
    const TarnSim::Scene scene = TarnSim::MakeScene(options);
    ui->RobotSelect->setCurrentIndex(0);  // generic three-angle rows
    Fill(scene, RowFormat::Kuka);
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);
    QVERIFY(!ui->LabelConvention->isHidden());
    QVERIFY2(ui->LabelConvention->text().startsWith("旋转约定：rzyx（次优 "),
             qUtf8Printable(ui->LabelConvention->text()));
    QVERIFY(ui->LabelCameraUncertainty->text().startsWith("不确定度（1σ）：平移 ±"));
    QVERIFY(ui->LabelMarkerUncertainty->text().startsWith("不确定度（1σ）：±"));
    const QString diagnosis = ui->TextDiagnosis->toPlainText();
    QVERIFY2(diagnosis.contains("第 4 个位姿与不含它的标定结果相差"), qUtf8Printable(diagnosis));
    QVERIFY(diagnosis.contains("解决方法：请检查或重新采集第 4 个位姿"));
    QTableWidget* residuals = ui->TableWidgetResidual;
    for (int r = 0; r < 15; ++r) QCOMPARE(residuals->item(r, 1)->font().bold(), r == 3);

    // Without pose 4 the set is clean: no highlight, no warning; a vendor type states no convention.
    Box(residuals, 3)->setChecked(false);
    ui->PushButtonReCompute->click();
    QVERIFY_NO_BOX(dialogs);
    QVERIFY(!residuals->item(3, 1)->font().bold());
    QVERIFY2(ui->TextDiagnosis->toPlainText().endsWith("无警告。"), qUtf8Printable(ui->TextDiagnosis->toPlainText()));
    ui->RobotSelect->setCurrentIndex(4);  // KUKA: the same rows
    ui->CalculateBtn->click();
    QVERIFY(ui->LabelConvention->isHidden());
  }

  void recomputeUsesTheCheckedRows() {
    TarnSim::SceneOptions options;
    options.pointNoise = 0.0005;
    const TarnSim::Scene scene = TarnSim::MakeScene(options);
    ui->RobotSelect->setCurrentIndex(2);
    Fill(scene, RowFormat::Fanuc);
    ui->CalculateBtn->click();
    QTableWidget* residuals = ui->TableWidgetResidual;
    const QString oldRow2 = Text(residuals, 1, 1);

    Box(residuals, 1)->setChecked(false);
    ui->CheckBoxExhaust->setChecked(true);  // "再计算" never searches
    ui->tabWidget->setCurrentIndex(0);
    ui->PushButtonReCompute->click();
    QVERIFY_NO_BOX(dialogs);
    QCOMPARE(ui->tabWidget->currentIndex(), 1);

    // The same calculation without pose 2, straight from the library.
    auto markers = scene.Markers();
    auto rows = TarnSim::RobotRows(scene, RowFormat::Fanuc);
    markers.erase(markers.begin() + 1);
    rows.erase(rows.begin() + 1);
    TamoHandEye::AlgoParam settings;
    TamoHandEye::FinalResult expected;
    QCOMPARE(int(TamoHandEye::FanucSolveFinalResult(markers, rows, settings, expected)), 0);

    QCOMPARE(Text(residuals, 1, 1), oldRow2);
    QVERIFY(!(residuals->item(1, 1)->flags() & Qt::ItemIsEnabled));
    QCOMPARE(Background(residuals, 1, 3), QColor(200, 200, 200));
    QCOMPARE(Text(residuals, 0, 1), QString::number(expected.residuals[0].distance, 'g', 6));
    QCOMPARE(Text(residuals, 2, 4), QString::number(expected.residuals[1].dz, 'g', 6));
    QCOMPARE(Text(residuals, 11, 2), QString::number(expected.residuals[10].dx, 'g', 6));
    QVERIFY(residuals->item(2, 1)->flags() & Qt::ItemIsEnabled);
    QCOMPARE(ui->LabelRMS->text(), QString::number(expected.rmsError, 'g', 6));
    QCOMPARE(MainWindowTester::Plot(*window, 1)->Points().size(), 11);
    QCOMPARE(Text(ui->TableWidgetZV, 0, 0), QString::number(expected.cameraPose[0], 'g', 6));

    // An empty cell in a taking-part row, then in a skipped one.
    ui->ParamList->item(2, 1)->setText("");
    ui->PushButtonReCompute->click();
    QCOMPARE(dialogs->shown, QStringList({"警告|第3行第2列数据为空!"}));
    ui->ParamList->item(2, 1)->setText("x");
    ui->PushButtonReCompute->click();
    QCOMPARE(dialogs->shown.last(), QString("警告|第3行第2列数据不是有效数字!"));
    Box(residuals, 2)->setChecked(false);
    dialogs->shown.clear();
    ui->PushButtonReCompute->click();
    QVERIFY_NO_BOX(dialogs);

    // Nothing checked: the library's empty-data message.
    for (int r = 0; r < residuals->rowCount(); ++r) Box(residuals, r)->setChecked(false);
    ui->PushButtonReCompute->click();
    const QString empty = QString::fromUtf8(TamoHandEye::parseCode(TamoHandEye::ErrorCode(202)));
    QCOMPARE(dialogs->shown, QStringList({"警告|计算出错, 错误信息:" + empty}));
    // Four: the count, not a failed equation.
    for (const int r : {3, 4, 5, 6}) Box(residuals, r)->setChecked(true);
    dialogs->shown.clear();
    ui->PushButtonReCompute->click();
    QCOMPARE(dialogs->shown, QStringList({"警告|至少需要5个位姿, 当前4个"}));
  }

  // Six poses draw the "few poses" warning: the report box lists the next poses to take, as the library
  // suggests them for the same rows, in the rows' columns and units.
  void reportSuggestsTheNextPosesWhenThePoseSetIsPoor() {
    TarnSim::SceneOptions options;
    options.poses = 6;
    options.pointNoise = 0.0002;
    const TarnSim::Scene scene = TarnSim::MakeScene(options);
    ui->RobotSelect->setCurrentIndex(2);
    Fill(scene, RowFormat::Fanuc);
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);
    const QString text = ui->TextDiagnosis->toPlainText();
    QVERIFY2(text.contains("建议的下一个位姿（X Y Z W P R (mm, deg)；") && text.contains("\n3. ") &&
                 !text.contains("\n4. ") && text.contains("当前相机平移 ±"),
             qUtf8Printable(text));
    TamoHandEye::PoseSuggestions expected;
    QCOMPARE(int(TamoHandEye::SuggestNextPoses(scene.Markers(), TarnSim::RobotRows(scene, RowFormat::Fanuc),
                                               TamoHandEye::AlgoParam{}, TamoHandEye::RobotKind::Fanuc, {}, expected)),
             0);
    QStringList first;
    for (const double v : expected.suggestions[0].row) first << QString::number(v, 'f', 3);
    QVERIFY2(text.contains("\n1. " + first.join(", ") + "  → 相机平移 ±"), qUtf8Printable(text));
  }

  // "验证": new shots of the same set-up pass, the same shots after the camera moved by 2 mm are caught with
  // that displacement, and the result stays as calculated; without a calculation a saved result file is
  // asked for, and one of another robot type is refused.
  void verifyChecksNewShotsWithoutChangingTheResult() {
    TarnSim::SceneOptions options;
    options.pointNoise = 0.0001;
    options.seed = 3;
    ui->RobotSelect->setCurrentIndex(2);
    Fill(TarnSim::MakeScene(options), RowFormat::Fanuc);
    ui->CalculateBtn->click();
    QVERIFY_NO_BOX(dialogs);
    const QString cameraX = Text(ui->TableWidgetZ, 0, 3);
    const QString rms = ui->LabelRMS->text();

    options.poses = 5;
    options.seed = 11;
    TarnSim::Scene shots = TarnSim::MakeScene(options);
    auto verify = [&](const TarnSim::Scene& scene) {
      ui->ParamList->setRowCount(0);
      Fill(scene, RowFormat::Fanuc);
      dialogs->shown.clear();
      ui->VerifyBtn->click();
      return dialogs->shown.join("\n");
    };
    QString shown = verify(shots);
    QVERIFY2(shown.startsWith("验证结果|第1行: ") && shown.contains("第5行: ") && shown.contains("结论: 通过") &&
                 shown.contains("已计入其自身不确定度") && shown.contains("这 5 组数据能发现大于"),
             qUtf8Printable(shown));

    Eigen::Isometry3d moved = Eigen::Isometry3d::Identity();
    moved.translation() = Eigen::Vector3d(0.0012, -0.0016, 0.0);  // 2 mm
    for (Eigen::Vector3d& p : shots.points) p = moved.inverse() * p;
    shown = verify(shots);
    QVERIFY2(shown.contains("结论: 漂移") && shown.endsWith("|OK"), qUtf8Printable(shown));
    const int at = shown.indexOf("相机位移: ");
    QVERIFY2(at >= 0, qUtf8Printable(shown));
    const double mm = shown.mid(at + 6, shown.indexOf(" mm", at) - at - 6).toDouble();
    QVERIFY2(std::abs(mm - 2.0) <= 0.4, qUtf8Printable(shown));
    QCOMPARE(Text(ui->TableWidgetZ, 0, 3), cameraX);
    QCOMPARE(ui->LabelRMS->text(), rms);

    // The saved result file, in a window that has calculated nothing.
    QTemporaryDir dir;
    dialogs->path = dir.filePath("result.csv");
    ui->PushButtonSave->click();
    QVERIFY(ReadText(dialogs->path).contains("Covariance:"));
    // The same numbers sent from elsewhere are not the report's result: saved without its covariance.
    emit window->signalCalculateResultSend(MainWindowTester::LastResult(*window));
    dialogs->path = dir.filePath("sent.csv");
    ui->PushButtonSave->click();
    QVERIFY(!ReadText(dialogs->path).contains("Covariance:"));
    Close();
    Open();
    dialogs->path = dir.filePath("result.csv");
    ui->RobotSelect->setCurrentIndex(2);
    shown = verify(TarnSim::MakeScene(options));
    QCOMPARE(dialogs->pickers.last(), QString("选择标定结果文件|Result Files (*.csv *.json)"));
    QVERIFY2(shown.contains("结论: 通过") && shown.contains("已计入其自身不确定度"), qUtf8Printable(shown));
    // A file saved before the covariance entry existed is judged by the plain limit, and says so.
    QByteArray older = ReadText(dialogs->path);
    older.remove(older.indexOf("Covariance:"), older.indexOf("\nEND:") - older.indexOf("Covariance:") + 1);
    QVERIFY(older.contains("MarkerType:") && WriteText(dialogs->path, older));
    shown = verify(TarnSim::MakeScene(options));
    QVERIFY2(shown.contains("结论: 通过") && shown.contains("限值 1.000 mm(默认)") && shown.contains("不含协方差"),
             qUtf8Printable(shown));
    ui->RobotSelect->setCurrentIndex(4);
    QCOMPARE(verify(TarnSim::MakeScene(options)), QString("验证失败|结果文件的机器人类型或手眼类型与当前选择不同!|OK"));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);
  CalculationTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "CalculationTest.moc"
