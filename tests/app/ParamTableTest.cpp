// SPDX-License-Identifier: Apache-2.0
// The parameter table: row buttons, pasting, deleting, clearing, trimming, and robot data files.

#include "WindowUnderTest.h"

#include <QClipboard>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

QString Cell(QTableWidget* table, int row, int column) {
  const QTableWidgetItem* item = table->item(row, column);
  return item ? item->text() : QString("<none>");
}

QStringList RobotCells(QTableWidget* table, int row) {
  QStringList cells;
  for (int c = 4; c < table->columnCount() - 1; ++c) cells << Cell(table, row, c);
  return cells;
}

QPushButton* MarkerPaste(QTableWidget* table, int row) { return qobject_cast<QPushButton*>(table->cellWidget(row, 3)); }

// The robot "粘贴" (0) or "删除" (1) button of a row.
QPushButton* RobotButton(QTableWidget* table, int row, int which) {
  QWidget* cell = table->cellWidget(row, table->columnCount() - 1);
  if (!cell) return nullptr;
  const QList<QPushButton*> buttons = cell->findChildren<QPushButton*>();
  return buttons.size() == 2 ? buttons[which] : nullptr;
}

void Paste(QPushButton* button, const QString& text) {
  QVERIFY(button != nullptr);
  QApplication::clipboard()->setText(text);
  button->click();
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
  const QString path = dir.filePath(name);
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return QString();
  file.write(content);
  return path;
}

}  // namespace

class ParamTableTest : public QObject, private WindowUnderTest {
  Q_OBJECT

  QTableWidget* table = nullptr;

  void AddRows(int count) {
    for (int i = 0; i < count; ++i) ui->AddBtn->click();
  }

 private slots:
  void init() {
    Open();
    table = ui->ParamList;
  }
  void cleanup() { Close(); }

  void addedRowsCarryTheirButtons() {
    AddRows(2);
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(MarkerPaste(table, 1)->text(), QString("粘贴"));
    QCOMPARE(RobotButton(table, 1, 0)->text(), QString("粘贴"));
    QCOMPARE(RobotButton(table, 1, 1)->text(), QString("删除"));
    QVERIFY(RobotButton(table, 1, 1)->minimumWidth() >= 40 && RobotButton(table, 1, 1)->minimumHeight() >= 30);
    QCOMPARE(Cell(table, 1, 0), QString("<none>"));
  }

  void pasteTakesTheNumbersAmongOtherText() {
    AddRows(3);
    Paste(MarkerPaste(table, 0), "x=12.5, y = -3.25;z:400mm");
    QCOMPARE(Cell(table, 0, 0), QString("12.5"));
    QCOMPARE(Cell(table, 0, 1), QString("-3.25"));
    QCOMPARE(Cell(table, 0, 2), QString("400"));

    // Two numbers: the third marker cell keeps its value; no number: nothing changes.
    Paste(MarkerPaste(table, 0), "7 8");
    QCOMPARE(Cell(table, 0, 0) + " " + Cell(table, 0, 1) + " " + Cell(table, 0, 2), QString("7 8 400"));
    Paste(MarkerPaste(table, 0), "no numbers here");
    QCOMPARE(Cell(table, 0, 0), QString("7"));

    // Robot values: five fill columns 4 to 8, eight fill all six.
    table->setItem(1, 9, new QTableWidgetItem("kept"));
    Paste(RobotButton(table, 1, 0), "1 2 3 4 5");
    QCOMPARE(RobotCells(table, 1), QStringList({"1", "2", "3", "4", "5", "kept"}));
    Paste(RobotButton(table, 1, 0), "10,20,30,40,50,60,70,80");
    QCOMPARE(RobotCells(table, 1), QStringList({"10", "20", "30", "40", "50", "60"}));

    // Zeros as controllers print them: "0 0" and "-0.000" are separate numbers, not one.
    Paste(RobotButton(table, 2, 0), "0 0 500 180 -0.000 90");
    QCOMPARE(RobotCells(table, 2), QStringList({"0", "0", "500", "180", "0", "90"}));
    Paste(MarkerPaste(table, 2), "0,5 0.25 -0.5");
    QCOMPARE(Cell(table, 2, 0) + " " + Cell(table, 2, 1) + " " + Cell(table, 2, 2), QString("0 5 0.25"));
  }

  void typedTextIsTrimmed() {
    AddRows(1);
    table->setItem(0, 0, new QTableWidgetItem("  1.5\t "));
    QCOMPARE(Cell(table, 0, 0), QString("1.5"));
    table->item(0, 0)->setText(" 2 ");
    QCOMPARE(Cell(table, 0, 0), QString("2"));
  }

  void deletingAsksWithTheRowNumberAndDisablesTheResultTabs() {
    AddRows(4);
    for (int r = 0; r < 4; ++r) table->setItem(r, 0, new QTableWidgetItem(QString::number(r)));
    ui->tabWidget->setTabEnabled(1, true);
    ui->tabWidget->setTabEnabled(2, true);

    dialogs->answer = false;
    RobotButton(table, 2, 1)->click();
    QCOMPARE(dialogs->questions, QStringList({"确定要删除第3行吗?"}));
    QCOMPARE(table->rowCount(), 4);
    QVERIFY(ui->tabWidget->isTabEnabled(1));

    dialogs->answer = true;
    RobotButton(table, 2, 1)->click();
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(Cell(table, 2, 0), QString("3"));
    QVERIFY(!ui->tabWidget->isTabEnabled(1) && !ui->tabWidget->isTabEnabled(2));

    // The buttons still find their rows after a robot type change moved the last column.
    ui->RobotSelect->setCurrentIndex(1);
    QCOMPARE(table->columnCount(), 12);
    RobotButton(table, 0, 1)->click();
    QCOMPARE(dialogs->questions.last(), QString("确定要删除第1行吗?"));
    QCOMPARE(Cell(table, 0, 0), QString("1"));
    Paste(RobotButton(table, 0, 0), "1 2 3 4 5 6 7");
    QCOMPARE(RobotCells(table, 0), QStringList({"1", "2", "3", "4", "5", "6", "7"}));
  }

  void clearingKeepsTheHeaders() {
    ui->clear->click();  // empty table: no question
    QVERIFY(dialogs->questions.isEmpty());

    ui->RobotSelect->setCurrentIndex(4);
    AddRows(2);
    table->setItem(0, 0, new QTableWidgetItem("1"));
    MainWindowTester::MarkerResults(*window).resize(2);
    ui->tabWidget->setTabEnabled(1, true);
    dialogs->answer = false;
    ui->clear->click();
    QCOMPARE(table->rowCount(), 2);

    dialogs->answer = true;
    ui->clear->click();
    QCOMPARE(dialogs->questions, QStringList({"确定清空数据吗?", "确定清空数据吗?"}));
    QCOMPARE(table->rowCount(), 0);
    QCOMPARE(table->columnCount(), 11);
    QCOMPARE(table->horizontalHeaderItem(9)->text(), QString("C"));
    QVERIFY(MainWindowTester::MarkerResults(*window).empty());
    QVERIFY(!ui->tabWidget->isTabEnabled(1));
    QCOMPARE(ui->RobotSelect->currentIndex(), 4);
  }

  void robotDataFileFillsTheRobotColumns() {
    QTemporaryDir dir;
    // Blank lines are skipped; tabs, runs of spaces, commas and semicolons separate; a header line and
    // comments are passed over; the file's texts are kept as written.
    dialogs->path =
        WriteFile(dir, "poses.csv",
                  "X,Y,Z,W,P,R\n100,200,300.50,0,0,90\r\n\r\n \t \n  1\t2  3 4 5 6  # two\n-1;-2;-3;-4;-5;-6\n");
    AddRows(1);
    table->setItem(0, 0, new QTableWidgetItem("0.1"));
    ui->RobotParamPathBtn->click();
    QCOMPARE(dialogs->pickers, QStringList({"选择机器人数据|Robot Data Files (*.txt *.data *.csv)"}));
    QVERIFY(dialogs->shown.isEmpty());
    QVERIFY(dialogs->questions.isEmpty());  // row 0 had no robot value yet
    QCOMPARE(ui->RobotParamEdit->text(), dialogs->path);
    QCOMPARE(table->rowCount(), 3);
    QCOMPARE(RobotCells(table, 0), QStringList({"100", "200", "300.50", "0", "0", "90"}));
    QCOMPARE(RobotCells(table, 1), QStringList({"1", "2", "3", "4", "5", "6"}));
    QCOMPARE(Cell(table, 0, 0), QString("0.1"));   // marker columns untouched
    QVERIFY(RobotButton(table, 2, 1) != nullptr);  // appended rows have their buttons
    QCOMPARE(Cell(table, 2, 0), QString("<none>"));

    // Fewer lines than rows: later rows keep their values. Overwriting asks first.
    dialogs->path = WriteFile(dir, "one.data", "9 9 9 9 9 9");
    dialogs->answer = false;
    ui->RobotParamPathBtn->click();
    QCOMPARE(dialogs->questions, QStringList({"此操作将会覆盖参数列表的部分数据"}));
    QCOMPARE(Cell(table, 0, 4), QString("100"));
    dialogs->answer = true;
    ui->RobotParamPathBtn->click();
    QCOMPARE(RobotCells(table, 0), QStringList({"9", "9", "9", "9", "9", "9"}));
    QCOMPARE(RobotCells(table, 2), QStringList({"-1", "-2", "-3", "-4", "-5", "-6"}));

    // No file chosen: nothing happens.
    dialogs->path.clear();
    ui->RobotParamPathBtn->click();
    QVERIFY(dialogs->shown.isEmpty());
  }

  void badRobotDataFilesAreRefusedAndChangeNothing() {
    QTemporaryDir dir;
    AddRows(1);
    table->setItem(0, 4, new QTableWidgetItem("5"));
    const QString mismatch = "警告|文件数据和机器人不匹配,请检查机器人型号和文件是否正确！|OK";
    const QString notNumber = "警告|文件数据错误,请检查文件数据是否正确！|OK";
    const struct {
      QByteArray content;
      QString message;
    } cases[] = {
        {"1 2 3 4 5 6\n1 2 3 4 5\n", mismatch},     // a short line
        {"1 2 3 4 5 6\n1 2 3 x 5 6\n", notNumber},  // a word
        {"1 2 3 4 5 nan\n", notNumber},             // not a finite value
        {"", "警告|文件格式为空！|OK"},
        {"\n\n", "警告|文件格式为空！|OK"},
    };
    int i = 0;
    for (const auto& c : cases) {
      dialogs->shown.clear();
      dialogs->path = WriteFile(dir, QString("bad%1.txt").arg(i++), c.content);
      ui->RobotParamPathBtn->click();
      QCOMPARE(dialogs->shown, QStringList({c.message}));
      QCOMPARE(table->rowCount(), 1);
      QCOMPARE(RobotCells(table, 0), QStringList({"5", "<none>", "<none>", "<none>", "<none>", "<none>"}));
    }

    dialogs->shown.clear();
    dialogs->path = dir.filePath("missing.txt");
    ui->RobotParamPathBtn->click();
    QCOMPARE(dialogs->shown, QStringList({"警告|文件打开失败！|OK"}));

    // Six values per line do not fit a four-value rotation.
    dialogs->shown.clear();
    ui->RobotSelect->setCurrentIndex(1);
    dialogs->path = WriteFile(dir, "six.txt", "1 2 3 4 5 6\n");
    ui->RobotParamPathBtn->click();
    QCOMPARE(dialogs->shown, QStringList({mismatch}));
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);
  ParamTableTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ParamTableTest.moc"
