#pragma once

// A stand-in for the window's dialogs: answers questions and file pickers from a script and records every
// box shown as "title|text" (boxes with the standard OK button as "title|text|OK").

#include "Dialogs.h"

#include <QStringList>

class ScriptedDialogs : public Dialogs {
 public:
  void Information(QWidget*, const QString& title, const QString& text, Button button) override {
    Record(title, text, button);
  }
  void Warning(QWidget*, const QString& title, const QString& text, Button button) override {
    Record(title, text, button);
  }
  void Critical(QWidget*, const QString& title, const QString& text, Button button) override {
    Record(title, text, button);
  }
  bool Confirm(QWidget*, const QString& text) override {
    questions << text;
    return answer;
  }
  QString OpenFile(QWidget*, const QString& title, const QString& filter) override {
    pickers << title + "|" + filter;
    return path;
  }
  QString SaveFile(QWidget*, const QString& title, const QString& filter) override {
    pickers << title + "|" + filter;
    return path;
  }
  QString Folder(QWidget*, const QString& title) override {
    pickers << title;
    return path;
  }

  QStringList shown;      ///< message boxes
  QStringList questions;  ///< confirmation questions
  QStringList pickers;    ///< file and folder pickers: title and filter
  bool answer = true;     ///< true: "确定"
  QString path;           ///< what every picker returns

 private:
  void Record(const QString& title, const QString& text, Button button) {
    shown << title + "|" + text + (button == Button::Ok ? "|OK" : "");
  }
};
