// SPDX-License-Identifier: Apache-2.0
// Clicks "用户手册" in the desktop program as installed (this program sits in <prefix>/bin beside where
// tarn_studio would) on a real X display, waits for the browser the desktop's launcher starts to show the
// manual's page — a window titled with the page's title — and saves a picture of the whole screen.
//
//   manual_opens_shot TITLE OUT.png      (under xvfb-run, QT_QPA_PLATFORM=xcb)

#include "MainWindow.h"
#include "MainWindowTester.h"
#include "ScriptedDialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

void Settle(int milliseconds) {
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

// The names of the display's windows, as the X server lists them.
QString WindowNames() {
  QProcess list;
  list.start("xwininfo", {"-root", "-tree"});
  list.waitForFinished(5000);
  return QString::fromUtf8(list.readAllStandardOutput());
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s TITLE OUT.png\n", argv[0]);
    return 2;
  }
  const QString title = QString::fromUtf8(argv[1]);
  auto dialogs = std::make_shared<ScriptedDialogs>();
  MainWindow window(nullptr, dialogs);
  window.resize(700, 500);
  window.show();
  Settle(300);
  if (WindowNames().contains(title)) {
    std::fprintf(stderr, "a window titled %s is open before the click\n", argv[1]);
    return 1;
  }
  MainWindowTester::Form(window).user_manual->click();

  QElapsedTimer waited;
  waited.start();
  bool shown = false;
  while (!shown && waited.elapsed() < 30000) {
    Settle(250);
    shown = WindowNames().contains(title);
  }
  Settle(2000);  // the page drawn, its pictures loaded
  const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(argv[2]));
  for (const QString& box : dialogs->shown) std::fprintf(stderr, "box: %s\n", box.toUtf8().constData());
  std::printf("%s after %lld ms; %s %s\n", shown ? "manual shown" : "no manual window",
              static_cast<long long>(waited.elapsed()), saved ? "wrote" : "could not write", argv[2]);
  return shown && saved && dialogs->shown.isEmpty() ? 0 : 1;
}
