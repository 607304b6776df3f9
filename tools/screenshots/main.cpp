// SPDX-License-Identifier: Apache-2.0
// tarn_studio_shots: runs the desktop program's workflow on a data set written by `tarn synth` — folders,
// marker batch, robot data file, the pose plan window, calculation — and saves a picture of each tab and of that
// window. Used by
// scripts/screenshots.sh (under a virtual X server).
//
//   tarn_studio_shots DATASET OUTDIR

#include "Dialogs.h"
#include "MainWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// Answers every question with "确定", gives the data set's folders and robot data file to the pickers, and
// prints any box.
class ShotDialogs : public Dialogs {
 public:
  void Information(QWidget*, const QString& title, const QString& text, Button) override { Print(title, text); }
  void Warning(QWidget*, const QString& title, const QString& text, Button) override { Print(title, text); }
  void Critical(QWidget*, const QString& title, const QString& text, Button) override { Print(title, text); }
  bool Confirm(QWidget*, const QString&) override { return true; }
  QString OpenFile(QWidget*, const QString&, const QString&) override { return robotFile; }
  QString Folder(QWidget*, const QString&) override { return folders.isEmpty() ? QString() : folders.takeFirst(); }

  QString robotFile;
  QStringList folders;
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

  auto dialogs = std::make_shared<ShotDialogs>();
  dialogs->robotFile = dataset.filePath("robot.txt");
  dialogs->folders = QStringList{dataset.filePath("images"), dataset.filePath("clouds")};
  MainWindow window(nullptr, dialogs);
  window.show();
  window.findChild<QComboBox*>("RobotSelect")->setCurrentIndex(2);  // the data set's rows are FANUC
  window.findChild<QPushButton*>("SelectPath2DBtn")->click();
  window.findChild<QPushButton*>("SelectPath3DBtn")->click();
  window.findChild<QPushButton*>("CalculateMarker")->click();
  window.findChild<QPushButton*>("RobotParamPathBtn")->click();
  // A marked image in the viewer: the cross is drawn into the cached images, shown on selection.
  auto* images = window.findChild<QListWidget*>("Image2DDisplay");
  if (images->count() == 0) {
    std::fprintf(stderr, "no images listed in %s\n", argv[1]);
    return 1;
  }
  images->setCurrentRow(std::min(4, images->count() - 1));

  bool ok = Save(window, out.filePath("tab0-collection.png"));
  // "生成标定位姿" with the table's shots: the camera solved from them, the plan around the first row's pose.
  window.findChild<QPushButton*>("PlanBtn")->click();
  auto* plan = window.findChild<QDialog*>("PlanDialog");
  plan->findChild<QPushButton*>("PlanRun")->click();
  ok = Save(*plan, out.filePath("plan-window.png")) && ok;
  plan->hide();
  window.findChild<QPushButton*>("CalculateBtn")->click();
  ok = Save(window, out.filePath("tab1-residuals.png")) && ok;
  window.findChild<QTabWidget*>("tabWidget")->setCurrentIndex(2);
  ok = Save(window, out.filePath("tab2-result.png")) && ok;
  return ok && dialogs->boxes == 0 ? 0 : 1;
}
