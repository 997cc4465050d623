// Answering the program's modal dialogs, message boxes and pop-up menus the
// way a user would: when one appears, a zero-time timer finds it
// (QApplication::activePopupWidget / activeModalWidget) and runs the next
// queued answer on it, which presses its buttons or menu items.
//
//   DialogAnswerer answers;
//   answers.Then(DialogAnswerer::Type("nový"));      // input prompt: type, "OK"
//   answers.Then(DialogAnswerer::Press("OK"));       // the box that follows
//   form->VytvoitAdres1->trigger();
//   ASSERT_EQ(answers.Seen().size(), 2u);
//   EXPECT_EQ(answers.Seen()[1].text, "Adresář nelze vytvořit !");
//
// A dialog that appears with no answer queued is recorded as unexpected and
// closed, so a test fails instead of hanging.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

struct SeenDialog {
  QString title;             // window title
  QString text;              // message box text, or the prompt's label
  QString editText;          // the prompt's field when it appeared
  bool editSelected = false; // whether that text was selected
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;       // button texts, or the menu's item texts
  bool isMenu = false;
  bool expected = true;
};

class DialogAnswerer : public QObject {
 public:
  using Answer = std::function<void(QWidget* dialog)>;

  DialogAnswerer() { qApp->installEventFilter(this); }
  ~DialogAnswerer() override { qApp->removeEventFilter(this); }

  // Queues the answer for the next dialog or pop-up menu that appears.
  DialogAnswerer& Then(Answer answer) {
    answers_.push_back(std::move(answer));
    return *this;
  }

  const std::vector<SeenDialog>& Seen() const { return seen_; }
  // The dialogs seen so far, a line each, for a failure's message.
  std::string Told() const {
    std::string out;
    for (const SeenDialog& s : seen_)
      out += "\n  [" + s.title.toStdString() + "] " + s.text.toStdString() + (s.expected ? "" : " (unexpected)");
    return out;
  }
  size_t Pending() const { return answers_.size(); }
  int Unexpected() const {
    int n = 0;
    for (const SeenDialog& s : seen_) n += s.expected ? 0 : 1;
    return n;
  }

  // Presses the button with this text.
  static Answer Press(const QString& buttonText) {
    return [buttonText](QWidget* dialog) { PressButton(dialog, buttonText); };
  }
  // Replaces the text of the dialog's edit field, then presses `button`.
  static Answer Type(const QString& text, const QString& button = QStringLiteral("OK")) {
    return [text, button](QWidget* dialog) {
      if (auto* edit = dialog->findChild<QLineEdit*>()) {
        // As typed over the selected default (insert() also takes letters
        // that QTest's key tables do not have, such as "ř").
        edit->selectAll();
        edit->insert(text);
      }
      PressButton(dialog, button);
    };
  }
  // Clicks the item of a pop-up menu with this text (its mnemonic's '&'
  // left out).
  static Answer Choose(const QString& itemText) {
    return [itemText](QWidget* widget) {
      auto* menu = qobject_cast<QMenu*>(widget);
      if (!menu) return;
      for (QAction* action : menu->actions()) {
        if (Shown(action->text()) == itemText) {
          QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
          return;
        }
      }
      menu->close();
    };
  }

  // A text as shown: without the '&' that marks its mnemonic.
  static QString Shown(QString text) { return text.remove(QLatin1Char('&')); }

  static bool PressButton(QWidget* dialog, const QString& text) {
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
      if (b->text() == text && b->isVisible() && b->isEnabled()) {
        b->click();
        return true;
      }
    }
    return false;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // A pop-up menu is the same object at each opening: each is answered.
    if (event->type() == QEvent::Hide && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->windowType() == Qt::Popup)
      watched->setProperty("answeredByTest", false);
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
      auto* w = static_cast<QWidget*>(watched);
      if (w->isWindow() && (w->isModal() || w->windowType() == Qt::Popup))
        QTimer::singleShot(0, this, [this] { AnswerActive(); });
    }
    return false;
  }

 private:
  void AnswerActive() {
    QWidget* w = QApplication::activePopupWidget();
    if (!w) w = QApplication::activeModalWidget();
    if (!w || w->property("answeredByTest").toBool()) return;
    w->setProperty("answeredByTest", true);

    SeenDialog seen;
    seen.title = w->windowTitle();
    if (auto* menu = qobject_cast<QMenu*>(w)) {
      seen.isMenu = true;
      for (QAction* a : menu->actions()) seen.buttons << Shown(a->text());
    } else {
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        seen.text = box->text();
        seen.icon = box->icon();
      } else if (auto* label = w->findChild<QLabel*>()) {
        seen.text = label->text();
      }
      if (auto* edit = w->findChild<QLineEdit*>()) {
        seen.editText = edit->text();
        seen.editSelected = edit->selectedText() == edit->text() && !edit->text().isEmpty();
      }
      for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
        if (b->isVisible()) seen.buttons << b->text();
    }
    seen.expected = !answers_.empty();
    seen_.push_back(seen);

    if (answers_.empty()) {
      if (auto* dialog = qobject_cast<QDialog*>(w))
        dialog->done(QDialog::Rejected);
      else
        w->close();
      return;
    }
    Answer answer = std::move(answers_.front());
    answers_.pop_front();
    answer(w);
  }

  std::deque<Answer> answers_;
  std::vector<SeenDialog> seen_;
};

// The window that has the keyboard: an open pop-up menu, else a modal
// dialog, else the active window.
inline QWindow* KeyboardWindow() {
  QWidget* target = QApplication::activePopupWidget();
  if (!target) target = QApplication::activeModalWidget();
  // The offscreen platform may leave a closed pop-up menu as the active window.
  if (!target && QApplication::activeWindow() && QApplication::activeWindow()->isVisible())
    target = QApplication::activeWindow();
  if (!target) {
    // A window manager gives the keyboard back to the main window when a
    // dialog over it closes; the offscreen platform leaves none active.
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->isVisible() && w->inherits("QMainWindow")) {
        w->activateWindow();
        if (!QTest::qWaitForWindowActive(w)) break;
        target = w;
        break;
      }
    }
  }
  // So does the focus, to where it was in that window; the offscreen
  // platform activates pop-up menus as windows and loses it on the way.
  if (target && !QApplication::focusWidget() && target->focusWidget())
    target->focusWidget()->setFocus(Qt::ActiveWindowFocusReason);
  return target ? target->windowHandle() : nullptr;
}
// A key pressed and let go as the keyboard gives it: to the window that has
// the keyboard, through the window system's path, so that shortcuts,
// mnemonics and the focus chain act as for a user.
inline void PressKey(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWindow* window = KeyboardWindow();
  if (!window) return ADD_FAILURE() << "no window has the keyboard";
  QTest::keyClick(window, static_cast<Qt::Key>(key), modifiers);
}
// Each character of `text` (ASCII) typed in turn.
inline void TypeKeys(const QString& text) {
  for (const QChar c : text) {
    QWindow* window = KeyboardWindow();
    if (!window) return ADD_FAILURE() << "no window has the keyboard";
    QTest::keyClick(window, c.toLatin1());
  }
}

// Processes events until `done` holds or `timeoutMs` has passed; true when it
// held. It sleeps in the event loop between events; the timer wakes it at the
// deadline.
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.start(timeoutMs);
  while (!done()) {
    if (!deadline.isActive()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Runs deferred deletions (a window closed with WA_DeleteOnClose).
inline void ProcessDeferredDeletes() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
