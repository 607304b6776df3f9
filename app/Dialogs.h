// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <memory>

class QWidget;

/// Every dialog the window shows goes through this class: message boxes, confirmation questions and file
/// pickers. Tests replace it to answer without a person.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  /// The single button of a message box: "确定" or the standard OK button.
  enum class Button { Confirm, Ok };

  /// A modal box with one button: information ("提示"), warning ("警告") or critical ("错误").
  virtual void Information(QWidget* parent, const QString& title, const QString& text, Button button = Button::Confirm);
  virtual void Warning(QWidget* parent, const QString& title, const QString& text, Button button = Button::Confirm);
  virtual void Critical(QWidget* parent, const QString& title, const QString& text, Button button = Button::Confirm);
  /// A modal warning box titled "警告" with "确定" and "取消"; true only for "确定".
  virtual bool Confirm(QWidget* parent, const QString& text);
  /// A modal question box without parent: `text`, the informative text below it, buttons OK (the default)
  /// and Cancel; true only for OK.
  virtual bool OkCancel(const QString& text, const QString& informativeText);

  /// A modal progress dialog with a cancel button, shown at once and closed when destroyed.
  class Progress {
   public:
    virtual ~Progress() = default;
    virtual void SetLabel(const QString& text) = 0;
    /// 0 to 100.
    virtual void SetValue(int value) = 0;
    /// The operator pressed the cancel button.
    virtual bool Cancelled() const = 0;
  };
  virtual std::unique_ptr<Progress> OpenProgress(QWidget* parent, const QString& label, const QString& cancelText);

  /// "生成标记": asks for the marker's outer radius R (mm) and the paper (0 A4, 1 A3, 2 Letter, 3 one page of
  /// the sheet's own size), starting from the values given; false when the operator cancels.
  virtual bool MarkerChoice(QWidget* parent, double& radiusMm, int& paper);

  /// File pickers; an empty text when the operator cancels.
  virtual QString OpenFile(QWidget* parent, const QString& title, const QString& filter);
  virtual QString SaveFile(QWidget* parent, const QString& title, const QString& filter);
  virtual QString Folder(QWidget* parent, const QString& title);
};
