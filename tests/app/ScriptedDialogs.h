// SPDX-License-Identifier: Apache-2.0
#pragma once

// A stand-in for the window's dialogs: answers questions and file pickers from a script and records every
// box shown as "title|text" (boxes with the standard OK button as "title|text|OK").

#include "Dialogs.h"

#include <QStringList>

#include <memory>

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
  bool OkCancel(const QString& text, const QString& informativeText) override {
    questions << text + "|" + informativeText;
    return answer;
  }
  std::unique_ptr<Progress> OpenProgress(QWidget*, const QString& label, const QString& cancelText) override {
    progressLabels << label + "|" + cancelText;
    return std::make_unique<ScriptedProgress>(*this);
  }
  bool MarkerChoice(QWidget*, double& radiusMm, int& paper) override {
    questions << QString("生成标记|%1|%2").arg(radiusMm).arg(paper);
    radiusMm = markerRadiusMm;
    paper = markerPaper;
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
    if (!folders.isEmpty()) return folders.takeFirst();
    return path;
  }

  QStringList shown;           ///< message boxes
  QStringList questions;       ///< confirmation questions
  QStringList pickers;         ///< file and folder pickers: title and filter
  bool answer = true;          ///< true: "确定"
  QString path;                ///< what every picker returns
  QStringList folders;         ///< answers of the folder picker, in turn (then `path`)
  double markerRadiusMm = 40;  ///< "生成标记": the R and paper given
  int markerPaper = 0;
  QStringList progressLabels;  ///< every label the progress dialog showed, the opening one with its cancel text
  QList<int> progressValues;
  int cancelAtValue = -1;  ///< the progress reports "取消" once it has shown this value

 private:
  class ScriptedProgress : public Progress {
   public:
    explicit ScriptedProgress(ScriptedDialogs& owner) : owner(owner) {}
    void SetLabel(const QString& text) override { owner.progressLabels << text; }
    void SetValue(int value) override {
      owner.progressValues << value;
      cancelled = cancelled || (owner.cancelAtValue >= 0 && value >= owner.cancelAtValue);
    }
    bool Cancelled() const override { return cancelled; }

   private:
    ScriptedDialogs& owner;
    bool cancelled = false;
  };

  void Record(const QString& title, const QString& text, Button button) {
    shown << title + "|" + text + (button == Button::Ok ? "|OK" : "");
  }
};
