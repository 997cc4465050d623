// The program's QApplication: no exception crosses the event loop.
#pragma once

#include <QApplication>
#include <QTranslator>

// The text pane's context menu (Undo, Cut, Paste, ...) in the words of the
// toolkit's own text fields, which the toolkit's translation has.
class PaneTexts : public QTranslator {
 public:
  QString translate(const char* context, const char* sourceText, const char* disambiguation, int n) const override;
  bool isEmpty() const override { return false; }
};

class VazurApplication : public QApplication {
  Q_OBJECT

 public:
  // Names the application, marks this thread as the main thread and points
  // the runtime's error report and main-thread wake-up at the GUI.
  VazurApplication(int& argc, char** argv);
  ~VazurApplication() override;

  // Every exception thrown while an event is handled ends here and is shown
  // as the general error report; the program goes on.
  bool notify(QObject* receiver, QEvent* event) override;

 private:
  // Czech texts for the toolkit's own dialogs (the save dialog's columns)
  // and, through them, for the text pane's context menu.
  QTranslator toolkitCzech_;
  PaneTexts paneTexts_;
};
