#include "app/message_boxes.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <exception>

namespace {

// Shows `box` with its text and one "OK" button, and waits for it.
void ExecOkBox(QMessageBox& box, QMessageBox::Icon icon, const QString& caption, const QString& text) {
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

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
  QMessageBox box(parent);
  ExecOkBox(box, icon, caption, text);
}

// A message box that stands beside its parent instead of over it.
class BesideBox : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);  // the box has its size from here on
    FitText();
    PlaceBeside();
  }

 private:
  // Some systems report fonts or screens the box's own sizing takes too
  // narrow: it is at least as wide as its text on one line.
  void FitText() {
    const auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!label || !layout()) return;
    const QMargins margins = layout()->contentsMargins();
    const int need = margins.left() + margins.right() + label->fontMetrics().horizontalAdvance(text()) +
                     2 * label->margin() + 2 * label->frameWidth() + 8;
    if (width() < need) setFixedSize(need, height());
  }

  void PlaceBeside() {
    QWidget* parent = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen* screen = parent ? parent->screen() : nullptr;
    if (!parent || !screen) return;
    const QRect area = screen->availableGeometry();
    const QRect avoid = parent->frameGeometry();
    // The box's frame is not there yet: the parent's tells its size.
    const QSize frame = size() + (parent->frameGeometry().size() - parent->geometry().size());
    constexpr int kGap = 8;
    const QPoint candidates[] = {
        {avoid.right() + 1 + kGap, avoid.top()},
        {avoid.left(), avoid.bottom() + 1 + kGap},
        {avoid.left() - kGap - frame.width(), avoid.top()},
        {avoid.left(), avoid.top() - kGap - frame.height()},
    };
    for (const QPoint& at : candidates) {
      if (area.contains(QRect(at, frame))) {
        move(at);
        return;
      }
    }
  }
};

}  // namespace

void ShowPlainMessageBeside(QWidget* parent, const QString& text) {
  BesideBox box(parent);
  ExecOkBox(box, QMessageBox::NoIcon, ApplicationTitle(), text);
}

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
