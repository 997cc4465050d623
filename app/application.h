// The program's QApplication: no exception crosses the event loop.
#pragma once

#include <QApplication>
#include <QTranslator>

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
  // Czech texts for the toolkit's own dialogs (the save dialog's columns).
  QTranslator toolkitCzech_;
};
