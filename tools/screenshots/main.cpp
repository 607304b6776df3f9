// tarn_studio_shots: fills the desktop program's window with a data set written by `tarn synth`, calculates,
// and saves a picture of each tab. Used by scripts/screenshots.sh (under a virtual X server).
//
//   tarn_studio_shots DATASET OUTDIR

#include "ColorImageView.h"
#include "Dialogs.h"
#include "MainWindow.h"
#include "ShotPairs.h"

#include <tarn/MarkerDetect.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// Answers every question with "确定", gives the robot data file to every picker, and prints any box.
class ShotDialogs : public Dialogs {
 public:
  void Information(QWidget*, const QString& title, const QString& text, Button) override { Print(title, text); }
  void Warning(QWidget*, const QString& title, const QString& text, Button) override { Print(title, text); }
  void Critical(QWidget*, const QString& title, const QString& text, Button) override { Print(title, text); }
  bool Confirm(QWidget*, const QString&) override { return true; }
  QString OpenFile(QWidget*, const QString&, const QString&) override { return robotFile; }

  QString robotFile;
  int boxes = 0;

 private:
  void Print(const QString& title, const QString& text) {
    ++boxes;
    std::fprintf(stderr, "%s: %s\n", title.toUtf8().constData(), text.toUtf8().constData());
  }
};

void Settle(int milliseconds = 300) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

bool Save(QWidget& window, const QString& path) {
  Settle();
  const bool saved = window.grab().save(path);
  std::printf("%s %s\n", saved ? "wrote" : "could not write", path.toUtf8().constData());
  return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DATASET OUTDIR\n", argv[0]);
    return 1;
  }
  const QDir dataset(QString::fromLocal8Bit(argv[1]));
  const QDir out(QString::fromLocal8Bit(argv[2]));
  if (!out.exists() && !QDir().mkpath(out.path())) return 1;

  const TarnCli::PairingResult pairing = TarnCli::PairShots(dataset.filePath("images").toStdString(), "png",
                                                            dataset.filePath("clouds").toStdString());
  if (pairing.pairs.empty()) {
    std::fprintf(stderr, "no image pairs in %s\n", argv[1]);
    return 1;
  }

  auto dialogs = std::make_shared<ShotDialogs>();
  dialogs->robotFile = dataset.filePath("robot.txt");
  MainWindow window(nullptr, dialogs);
  window.show();
  window.findChild<QComboBox*>("RobotSelect")->setCurrentIndex(2);  // the data set's rows are FANUC

  auto* table = window.findChild<QTableWidget*>("ParamList");
  for (const TarnCli::ShotPair& pair : pairing.pairs) {
    TamoHandEye::MarkerBoardResult marker;
    if (TamoHandEye::SolveMarkerBoardResults(pair.image, pair.cloud, marker) != 0) continue;
    window.findChild<QPushButton*>("AddBtn")->click();
    const int row = table->rowCount() - 1;
    const double values[3] = {marker.x, marker.y, marker.z};
    for (int c = 0; c < 3; ++c) table->setItem(row, c, new QTableWidgetItem(QString::number(values[c], 'g', 10)));
  }
  window.findChild<QPushButton*>("RobotParamPathBtn")->click();
  window.findChild<ColorImageView*>("display")->setImage(QImage(QString::fromStdString(pairing.pairs[0].image)));

  bool ok = Save(window, out.filePath("tab0-collection.png"));
  window.findChild<QPushButton*>("CalculateBtn")->click();
  ok = Save(window, out.filePath("tab1-residuals.png")) && ok;
  window.findChild<QTabWidget*>("tabWidget")->setCurrentIndex(2);
  ok = Save(window, out.filePath("tab2-result.png")) && ok;
  return ok && dialogs->boxes == 0 ? 0 : 1;
}
