#include "Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

void Show(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text, Dialogs::Button button) {
  QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
  if (button == Dialogs::Button::Ok) {
    box.addButton(QMessageBox::Ok);
  } else {
    box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
  }
  box.exec();
}

}  // namespace

void Dialogs::Information(QWidget* parent, const QString& title, const QString& text, Button button) {
  Show(parent, QMessageBox::Information, title, text, button);
}

void Dialogs::Warning(QWidget* parent, const QString& title, const QString& text, Button button) {
  Show(parent, QMessageBox::Warning, title, text, button);
}

void Dialogs::Critical(QWidget* parent, const QString& title, const QString& text, Button button) {
  Show(parent, QMessageBox::Critical, title, text, button);
}

bool Dialogs::Confirm(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("警告"), text, QMessageBox::NoButton, parent);
  QPushButton* ok = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
  box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
  box.exec();
  return box.clickedButton() == ok;
}

QString Dialogs::OpenFile(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

QString Dialogs::SaveFile(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getSaveFileName(parent, title, QString(), filter);
}

QString Dialogs::Folder(QWidget* parent, const QString& title) {
  return QFileDialog::getExistingDirectory(parent, title, QString());
}
