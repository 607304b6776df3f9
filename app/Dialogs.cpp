// SPDX-License-Identifier: Apache-2.0
#include "Dialogs.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QMessageBox>
#include <QProgressDialog>
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

class ProgressDialog : public Dialogs::Progress {
 public:
  ProgressDialog(QWidget* parent, const QString& label, const QString& cancelText)
      : dialog(label, cancelText, 0, 100, parent) {
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumSize(350, 150);
    dialog.setMinimumDuration(0);
    dialog.setValue(0);
    dialog.show();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  ~ProgressDialog() override { dialog.close(); }
  void SetLabel(const QString& text) override { dialog.setLabelText(text); }
  void SetValue(int value) override { dialog.setValue(value); }
  bool Cancelled() const override { return dialog.wasCanceled(); }

 private:
  QProgressDialog dialog;
};

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

bool Dialogs::OkCancel(const QString& text, const QString& informativeText) {
  QMessageBox box;
  box.setText(text);
  box.setInformativeText(informativeText);
  box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

std::unique_ptr<Dialogs::Progress> Dialogs::OpenProgress(QWidget* parent, const QString& label,
                                                         const QString& cancelText) {
  return std::make_unique<ProgressDialog>(parent, label, cancelText);
}

QString Dialogs::OpenFile(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

bool Dialogs::MarkerChoice(QWidget* parent, double& radiusMm, int& paper) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QStringLiteral("生成标记"));
  auto* radius = new QDoubleSpinBox(&dialog);
  radius->setRange(5.0, 500.0);
  radius->setDecimals(1);
  radius->setSuffix(QStringLiteral(" mm"));
  radius->setValue(radiusMm);
  auto* papers = new QComboBox(&dialog);
  papers->addItems(
      {QStringLiteral("A4"), QStringLiteral("A3"), QStringLiteral("Letter"), QStringLiteral("按标记大小（单页）")});
  papers->setCurrentIndex(paper);
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* form = new QFormLayout(&dialog);
  form->addRow(QStringLiteral("标记外半径 R:"), radius);
  form->addRow(QStringLiteral("纸张:"), papers);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return false;
  radiusMm = radius->value();
  paper = papers->currentIndex();
  return true;
}

QString Dialogs::SaveFile(QWidget* parent, const QString& title, const QString& filter) {
  return QFileDialog::getSaveFileName(parent, title, QString(), filter);
}

QString Dialogs::Folder(QWidget* parent, const QString& title) {
  return QFileDialog::getExistingDirectory(parent, title, QString());
}
