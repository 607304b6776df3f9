// SPDX-License-Identifier: Apache-2.0
// What an operator sees when the program starts, and what the robot type list does to the table.

#include "MainWindowTester.h"
#include "PrintableMarker.h"
#include "ScriptedDialogs.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QStringList Headers(QTableWidget* table) {
  QStringList headers;
  for (int c = 0; c < table->columnCount(); ++c) headers << table->horizontalHeaderItem(c)->text();
  return headers;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void startState() {
    MainWindow window;
    Ui::MainWindow& ui = MainWindowTester::Form(window);
    QCOMPARE(window.windowTitle(), QString("TarnStudio"));
    QCOMPARE(ui.tabWidget->count(), 3);
    QCOMPARE(ui.tabWidget->tabText(0), QString("采集"));
    QCOMPARE(ui.tabWidget->tabText(1), QString("计算"));
    QCOMPARE(ui.tabWidget->tabText(2), QString("结果"));
    QCOMPARE(ui.tabWidget->currentIndex(), 0);
    QVERIFY(!ui.tabWidget->isTabEnabled(1));
    QVERIFY(!ui.tabWidget->isTabEnabled(2));
    QCOMPARE(Headers(ui.ParamList), QStringList({"X", "Y", "Z", "操作", "X", "Y", "Z", "R1", "R2", "R3", "操作"}));
    QCOMPARE(ui.ParamList->rowCount(), 0);
    QCOMPARE(ui.RobotSelect->count(), 8);
    QCOMPARE(ui.RobotSelect->currentText(), QString("XYZR1R2R3"));
    QCOMPARE(ui.ImageFormatSelect->currentText(), QString("png"));
    QCOMPARE(ui.MakerSelect->itemText(0), QString("同心圆"));
    QCOMPARE(ui.MakerSelect->itemText(1), QString("同心圆(平面拟合)"));
    QCOMPARE(ui.MakerSelect->currentIndex(), 1);  // the precise centre by default
    QVERIFY(ui.AlgoType0->isChecked());
    QVERIFY(!ui.CheckBoxIsm->isHidden() && !ui.CheckBoxRadian->isHidden());
    QVERIFY(!ui.CheckBoxIsm->isChecked() && !ui.CheckBoxRadian->isChecked() && !ui.CheckBoxExhaust->isChecked());
    QCOMPARE(ui.VersionLabel->text(), QString("Version:V2.1.1-733fd48"));
    QCOMPARE(ui.ImagePath3DEdit->placeholderText(), QString("命名规范:xxx_01.ply xxx_02.ply"));
    QCOMPARE(ui.LabelRMS->text(), QString("TextLabel"));
    // The residual plots are there, empty, when their tab is shown.
    for (int tab = 1; tab < 3; ++tab) {
      ui.tabWidget->setTabEnabled(tab, true);
      ui.tabWidget->setCurrentIndex(tab);
    }
    const QList<ResidualPlot*> plots = ui.widget_2->findChildren<ResidualPlot*>();
    QCOMPARE(plots.size(), 3);
    for (const ResidualPlot* plot : plots) QVERIFY(plot->Points().isEmpty());
  }

  void recordsTravelUnderTheirOwnNames() {
    MainWindow window;
    const QMetaObject* meta = window.metaObject();
    QVERIFY(meta->indexOfSignal("signalCalculateResultSend(FinalResult)") >= 0);
    QVERIFY(meta->indexOfSignal("signalMarkerResultsChanged(std::vector<MarkerBoardResult>)") >= 0);
    QVERIFY(meta->indexOfSlot("slotRefreshImage2DList(QString)") >= 0);
    QVERIFY(QMetaType::type("FinalResult") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("std::vector<MarkerBoardResult>") != QMetaType::UnknownType);
  }

  void exhaustEnablesTheDistance() {
    MainWindow window;
    Ui::MainWindow& ui = MainWindowTester::Form(window);
    QDoubleSpinBox* distance = ui.DSpinBoxMaxDist;
    QVERIFY(!distance->isEnabled());
    QCOMPARE(distance->value(), 0.001);
    QCOMPARE(distance->maximum(), 0.01);
    QCOMPARE(distance->minimum(), 0.0);
    QCOMPARE(distance->singleStep(), 0.0005);
    QCOMPARE(distance->decimals(), 4);
    ui.CheckBoxExhaust->setChecked(true);
    QVERIFY(distance->isEnabled() && ui.label_17->isEnabled());
    distance->setValue(0.0035);
    ui.CheckBoxExhaust->setChecked(false);
    QVERIFY(!distance->isEnabled() && !ui.label_17->isEnabled());
    QCOMPARE(distance->value(), 0.0035);
  }

  void robotTypeChangesHeadersAndUnitBoxes() {
    auto dialogs = std::make_shared<ScriptedDialogs>();
    MainWindow window(nullptr, dialogs);
    Ui::MainWindow& ui = MainWindowTester::Form(window);
    ui.ParamList->setRowCount(1);
    ui.ParamList->setItem(0, 4, new QTableWidgetItem("100"));
    ui.ParamList->setItem(0, 0, new QTableWidgetItem("0.5"));

    ui.RobotSelect->setCurrentIndex(2);  // FANUC: same count, no question, values kept
    QVERIFY(dialogs->questions.isEmpty());
    QCOMPARE(Headers(ui.ParamList).mid(7, 3), QStringList({"W", "P", "R"}));
    QVERIFY(ui.CheckBoxIsm->isHidden() && ui.CheckBoxRadian->isHidden());
    ui.RobotSelect->setCurrentIndex(4);  // KUKA
    QCOMPARE(Headers(ui.ParamList).mid(7, 3), QStringList({"A", "B", "C"}));
    QCOMPARE(ui.ParamList->item(0, 4)->text(), QString("100"));

    // Four rotation values: asked; "取消" keeps the type and the table.
    dialogs->answer = false;
    ui.RobotSelect->setCurrentIndex(6);
    QCOMPARE(dialogs->questions.size(), 1);
    QCOMPARE(ui.RobotSelect->currentIndex(), 4);
    QCOMPARE(ui.ParamList->columnCount(), 11);
    QCOMPARE(ui.ParamList->item(0, 4)->text(), QString("100"));

    // "确定": the robot values are emptied and a column is inserted before the last.
    dialogs->answer = true;
    ui.RobotSelect->setCurrentIndex(1);
    QCOMPARE(Headers(ui.ParamList),
             QStringList({"X", "Y", "Z", "操作", "X", "Y", "Z", "R1", "R2", "R3", "R4", "操作"}));
    QCOMPARE(ui.ParamList->item(0, 4)->text(), QString());
    QCOMPARE(ui.ParamList->item(0, 0)->text(), QString("0.5"));
    QVERIFY(!ui.CheckBoxIsm->isHidden() && ui.CheckBoxRadian->isHidden());

    ui.RobotSelect->setCurrentIndex(7);  // UR: asked again (7 → 6 values), radians
    QVERIFY(ui.CheckBoxRadian->isChecked() && !ui.CheckBoxIsm->isChecked());
    QCOMPARE(ui.ParamList->columnCount(), 11);
  }

  // The real boxes: their titles and buttons, answered by clicking the named button once the box is up.
  void realBoxesCarryTheirButtons() {
    QStringList seen;
    auto answer = [&seen](const QString& click) {
      QTimer::singleShot(0, [&seen, click] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        QStringList texts;
        for (QAbstractButton* button : box->buttons()) texts << button->text().remove('&');
        seen << box->windowTitle() + "|" + box->text() + "|" + texts.join(",");
        for (QAbstractButton* button : box->buttons()) {
          if (button->text().remove('&') == click) button->click();
        }
      });
    };
    Dialogs dialogs;
    answer("确定");
    dialogs.Warning(nullptr, "警告", "w");
    answer("OK");
    dialogs.Warning(nullptr, "计算失败", "数据不能为空!", Dialogs::Button::Ok);
    answer("取消");
    QVERIFY(!dialogs.Confirm(nullptr, "q"));
    answer("确定");
    QVERIFY(dialogs.Confirm(nullptr, "q"));
    answer("Cancel");
    QVERIFY(!dialogs.OkCancel("提示", "i"));
    QCOMPARE(seen, QStringList({"警告|w|确定", "计算失败|数据不能为空!|OK", "警告|q|确定,取消", "警告|q|确定,取消",
                                "|提示|OK,Cancel"}));
  }

  void messagesGoThroughTheDialogs() {
    auto dialogs = std::make_shared<ScriptedDialogs>();
    MainWindow window(nullptr, dialogs);
    emit window.warn("文件打开失败！");
    emit window.info("数据导出成功.");
    emit window.error("x");
    QCOMPARE(dialogs->shown, QStringList({"警告|文件打开失败！", "提示|数据导出成功.", "错误|x"}));
  }

  // Where nothing can open the manual or the SDK folder (no file launcher on the path), both buttons say
  // where they are instead of doing nothing.
  // "生成标记" writes what `tarn marker --paper A3` writes (the same library call, Chinese texts), to the path
  // picked with ".pdf" added; cancelling the choice writes nothing.
  void makeMarkerWritesThePaperPdf() {
    const QTemporaryDir dir;
    auto dialogs = std::make_shared<ScriptedDialogs>();
    dialogs->markerRadiusMm = 120.0;
    dialogs->markerPaper = 1;  // A3
    dialogs->path = dir.filePath("标记");
    MainWindow window(nullptr, dialogs);
    MainWindowTester::Form(window).MakeMarkerBtn->click();
    QFile written(dialogs->path + ".pdf");
    QVERIFY(written.open(QIODevice::ReadOnly));
    TarnWorkflow::MarkerSheet sheet;
    sheet.radiusMm = 120.0;
    sheet.paper = TarnWorkflow::Paper::A3;
    sheet.language = TarnWorkflow::SheetLanguage::Zh;
    QCOMPARE(written.readAll().toStdString(), TarnWorkflow::MarkerPdf(sheet));
    QCOMPARE(dialogs->shown.size(), 1);
    QVERIFY2(dialogs->shown[0].startsWith("提示|已写入") && dialogs->shown[0].contains("(4 页)"),
             qPrintable(dialogs->shown[0]));
    // Offered again as last chosen; cancelled, nothing more is written or said.
    dialogs->answer = false;
    dialogs->path = dir.filePath("again.pdf");
    MainWindowTester::Form(window).MakeMarkerBtn->click();
    QCOMPARE(dialogs->questions.last(), QString("生成标记|120|1"));
    QVERIFY(!QFile::exists(dialogs->path));
    QCOMPARE(dialogs->shown.size(), 1);
  }

  void manualAndSdkSayWhereTheyAreWhenNothingOpensThem() {
    const QTemporaryDir empty;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", empty.path().toLocal8Bit());
    auto dialogs = std::make_shared<ScriptedDialogs>();
    MainWindow window(nullptr, dialogs);
    MainWindowTester::Form(window).user_manual->click();
    MainWindowTester::Form(window).SDK_path->click();
    qputenv("PATH", path);
    QCOMPARE(dialogs->shown.size(), 2);
    QVERIFY2(dialogs->shown[0].startsWith("警告|没有能打开它的程序") && dialogs->shown[0].endsWith("README.md"),
             qPrintable(dialogs->shown[0]));
    QVERIFY2(dialogs->shown[1].contains("/examples") || dialogs->shown[1].contains("TarnSDK"),
             qPrintable(dialogs->shown[1]));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
