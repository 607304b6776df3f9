// SPDX-License-Identifier: Apache-2.0
#pragma once

// A fresh, shown window per test case, with scripted dialogs. Test classes derive from it next to QObject
// and call Open() from init() and Close() from cleanup().

#include "MainWindowTester.h"
#include "ScriptedDialogs.h"

#include <QFile>

#include <memory>

class WindowUnderTest {
 protected:
  void Open() {
    dialogs = std::make_shared<ScriptedDialogs>();
    window = std::make_unique<MainWindow>(nullptr, dialogs);
    window->show();
    ui = &MainWindowTester::Form(*window);
  }
  void Close() {
    window.reset();
    ui = nullptr;
  }

  std::shared_ptr<ScriptedDialogs> dialogs;
  std::unique_ptr<MainWindow> window;
  Ui::MainWindow* ui = nullptr;
};

/// No message box has been shown (else the test fails listing them).
#define QVERIFY_NO_BOX(dialogs) QVERIFY2((dialogs)->shown.isEmpty(), qUtf8Printable((dialogs)->shown.join("\n")))

/// A file's bytes written whole, and read back.
inline bool WriteText(const QString& path, const QByteArray& content) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

inline QByteArray ReadText(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
