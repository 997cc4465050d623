#include "app/application.h"

#include "app/message_boxes.h"
#include "rtl/error_report.h"
#include "rtl/thread.h"
#include "serial_ui/com_setup_dialog.h"

#include <QLibraryInfo>
#include <QMetaObject>
#include <QThread>

#include <exception>

namespace {

// Reaches the GUI from any thread: at once on the GUI thread, queued otherwise.
void ReportFromAnyThread(const std::string& message) {
  const QString text = QString::fromUtf8(message.data(), static_cast<qsizetype>(message.size()));
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  if (QThread::currentThread() == app->thread()) {
    ShowErrorReport(text);
  } else {
    QMetaObject::invokeMethod(app, [text] { ShowErrorReport(text); }, Qt::QueuedConnection);
  }
}

}  // namespace

QString PaneTexts::translate(const char* context, const char* sourceText, const char* disambiguation, int n) const {
  if (qstrcmp(context, "QsciScintilla") != 0) return {};
  return QCoreApplication::translate("QWidgetTextControl", sourceText, disambiguation, n);
}

VazurApplication::VazurApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // No display name: Windows would add it to every window's caption.
  setApplicationName(ApplicationTitle());
  setApplicationVersion(QStringLiteral(VAZUR_VERSION));
  const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (toolkitCzech_.load(QStringLiteral("qtbase_cs"), translations)) installTranslator(&toolkitCzech_);
  installTranslator(&paneTexts_);
  SetMainThread();
  SetErrorReportHook(ReportFromAnyThread);
  InstallPortSettingsDialog();
  SetWakeMainThreadHook([] {
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
  });
}

VazurApplication::~VazurApplication() {
  SetWakeMainThreadHook({});
  SetErrorReportHook({});
}

bool VazurApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ReportCurrentExceptionInGui();
  }
  return false;
}
