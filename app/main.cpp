// Vazur: saves a VQ exchange's RAM to a dump file over RS-232 and sends such
// a file back.
#include "app/application.h"
#include "app/main_window.h"
#include "app/message_boxes.h"

#include <QPointer>

int main(int argc, char** argv) {
  VazurApplication app(argc, argv);
  QPointer<TForm1> form;
  try {
    form = new TForm1;
  } catch (...) {
    ReportCurrentExceptionInGui();
    return 1;
  }
  form->show();
  const int result = app.exec();
  delete form;  // when the loop ended before the window's own deletion ran
  return result;
}
