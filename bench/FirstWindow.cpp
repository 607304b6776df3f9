// SPDX-License-Identifier: Apache-2.0
// The desktop program's first window against a plain Qt window of the same size: each process starts,
// shows its window, paints it once and ends; the wall time of the whole process is what an operator waits.
//
//   bench/first-window.sh [RUNS]     (offscreen; both programs in turn, medians side by side)
//
// Built twice: first_window_studio starts as tarn_studio does (the same libraries, the same main window);
// first_window_plain is a QMainWindow with a label, linked against Qt Widgets alone (`first_window_plain
// [--size] W H` to size it as the other).
#ifdef TARN_FIRST_WINDOW_STUDIO
#  include "LibraryOutput.h"
#  include "MainWindow.h"
#  include "ProcessMemory.h"

#  include <QLibraryInfo>
#  include <QTranslator>
#else
#  include <QLabel>
#  include <QMainWindow>
#endif

#include <QApplication>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char* argv[]) {
#ifdef TARN_FIRST_WINDOW_STUDIO
  TarnWorkflow::KeepFreedMemory();
  TarnWorkflow::SilenceLibraryOutput();
#endif
  QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
  QApplication app(argc, argv);
#ifdef TARN_FIRST_WINDOW_STUDIO
  Q_INIT_RESOURCE(resources);
  QTranslator qtChinese;
  if (qtChinese.load("qtbase_zh_CN", QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qtChinese);
  }
  MainWindow window;
#else
  QMainWindow window;
  window.setCentralWidget(new QLabel("Tarn"));
  // The desktop program's main window's size, when given (the script passes it).
  const int width = argc > 2 ? std::atoi(argv[argc - 2]) : 0, height = argc > 2 ? std::atoi(argv[argc - 1]) : 0;
  window.resize(width > 0 ? width : 1190, height > 0 ? height : 900);
#endif
  window.show();
  QApplication::processEvents();
  const QPixmap painted = window.grab();  // every widget painted once
  if (argc > 1 && std::strcmp(argv[1], "--size") == 0) {
    std::printf("%d x %d\n", painted.width(), painted.height());
  }
  return painted.isNull() ? 1 : 0;
}
