#pragma once

#include <QString>

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
  /// File pickers; an empty text when the operator cancels.
  virtual QString OpenFile(QWidget* parent, const QString& title, const QString& filter);
  virtual QString SaveFile(QWidget* parent, const QString& title, const QString& filter);
  virtual QString Folder(QWidget* parent, const QString& title);
};
