#include "app/message_boxes.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>

namespace {

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
  QMessageBox box(parent);
  box.setIcon(icon);
  box.setWindowTitle(caption);
  box.setText(text);
  box.setTextFormat(Qt::PlainText);
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  ok->setText(QStringLiteral("OK"));
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.exec();
}

}  // namespace

QString ApplicationTitle() { return QStringLiteral("Vazur"); }

void ShowPlainMessage(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::NoIcon, ApplicationTitle(), text);
}

void ShowSystemBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
  ShowBox(parent, icon, caption, text);
}

bool AskYesNo(QWidget* parent, const QString& text) {
  QMessageBox box(parent);
  box.setIcon(QMessageBox::Question);
  box.setWindowTitle(QStringLiteral(" DOTAZ "));
  box.setText(text);
  box.setTextFormat(Qt::PlainText);
  QPushButton* yes = box.addButton(QMessageBox::Yes);
  yes->setText(QStringLiteral("Ano"));
  QPushButton* no = box.addButton(QMessageBox::No);
  no->setText(QStringLiteral("Ne"));
  box.setDefaultButton(no);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

void ShowErrorBox(QWidget* parent, const QString& text) {
  ShowBox(parent, QMessageBox::Critical, QStringLiteral(" CHYBA "), text);
}

void ShowErrorReport(const QString& message) {
  ShowBox(QApplication::activeWindow(), QMessageBox::Critical, ApplicationTitle(), message);
}

void ReportCurrentExceptionInGui() {
  try {
    throw;
  } catch (const std::exception& e) {
    ShowErrorReport(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowErrorReport(QStringLiteral("Neznámá chyba"));
  }
}

bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& value) {
  QDialog dialog(parent);
  dialog.setWindowTitle(caption);
  dialog.setObjectName(QStringLiteral("InputQuery"));

  auto* label = new QLabel(prompt, &dialog);
  auto* edit = new QLineEdit(&dialog);
  edit->setMaxLength(255);
  edit->setText(value);
  edit->selectAll();
  label->setBuddy(edit);

  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QStringLiteral("Storno"), QDialogButtonBox::RejectRole);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(label);
  layout->addWidget(edit);
  layout->addWidget(buttons);
  dialog.setMinimumWidth(300);
  edit->setFocus();

  if (dialog.exec() != QDialog::Accepted) return false;
  value = edit->text();
  return true;
}
