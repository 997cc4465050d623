// The program's message boxes and its input prompt, with Czech button texts
// set on the buttons themselves (no translation files involved).
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

// The application's title: captions plain messages and the error report.
QString ApplicationTitle();

// Plain message: the application's title as caption, no icon, one "OK".
void ShowPlainMessage(QWidget* parent, const QString& text);

// A plain message placed beside `parent` (to its right, else below it, to
// its left or above it, wherever it fits on the screen) rather than over it,
// so that what the parent shows stays in view; as wide as its text needs.
void ShowPlainMessageBeside(QWidget* parent, const QString& text);

// System box: an icon, a caption such as " INFORMACE ", one "OK".
void ShowSystemBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text);
// Question box: caption " DOTAZ ", question icon, "Ano" and "Ne" (the
// default, so a stray Enter changes nothing). True for "Ano".
bool AskYesNo(QWidget* parent, const QString& text);

// Error box: caption " CHYBA ", stop icon, one "OK".
void ShowErrorBox(QWidget* parent, const QString& text);

// The general error report: stop icon, the application's title as caption,
// the message as text, one "OK". Must run on the GUI thread.
void ShowErrorReport(const QString& message);

// Shows the exception in flight as the general error report (call from a
// catch block on the GUI thread).
void ReportCurrentExceptionInGui();

// Runs `action`; an exception it throws is shown as the general error report
// instead of travelling on through the toolkit's code.
template <typename F>
void Guarded(F&& action) {
  try {
    action();
  } catch (...) {
    ReportCurrentExceptionInGui();
  }
}

// Modal input prompt with a caption, a prompt line, an edit field pre-filled
// with `value` (selected, at most 255 characters) and "OK" / "Storno".
// Returns true for "OK" and puts the edited text into `value`; on "Storno"
// `value` keeps what it held.
bool InputQuery(QWidget* parent, const QString& caption, const QString& prompt, QString& value);
