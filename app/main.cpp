// tarn_studio: the operator's desktop program for hand-eye calibration.
#include "MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
  QApplication app(argc, argv);
  Q_INIT_RESOURCE(resources);  // the icons live in the widgets' static library
  MainWindow window;
  window.show();
  return app.exec();
}
