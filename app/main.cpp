// SPDX-License-Identifier: Apache-2.0
// tarn_studio: the operator's desktop program for hand-eye calibration.
#include "MainWindow.h"

#include "LibraryOutput.h"
#include "ProcessMemory.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char* argv[]) {
  TarnWorkflow::KeepFreedMemory();
  TarnWorkflow::SilenceLibraryOutput();
  QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);  // the icons live in the widgets' static library
  // Qt's own dialogs (file pickers, standard buttons) in Chinese, as the rest of the window.
  QTranslator qtChinese;
  if (qtChinese.load("qtbase_zh_CN", QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
    QApplication::installTranslator(&qtChinese);
  }
  MainWindow window;
  window.show();
  return app.exec();
}
