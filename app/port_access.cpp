#include "app/port_access.h"

#include "app/app_state.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/reception.h"
#include "app/receive_dialog.h"
#include "app/send_dialog.h"
#include "serial/serial.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <exception>

#ifndef _WIN32
#include "winapi/port_map.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The driver's receive queue. The event thread waits while a handler runs,
// and the reception's handler waits on the technician while "Data jsou
// přijata" is shown: what the exchange sends meanwhile must fit here, as the
// line has no flow control. 4 MiB is over nine hours of a 1200 Bd line, and
// a megabyte arriving in one burst still fits.
constexpr int32_t kReceiveQueueBytes = 4 * 1024 * 1024;
// What any driver takes.
constexpr int32_t kDriverQueueBytes = 1024;

bool LossAnnounced = false;
// Counts the port's openings: a loss told by a connection's event thread
// as the port is being reopened belongs to the old connection.
int Openings = 0;

QString PortName(TForm1& form) { return QString::fromStdString(form.ComPort1->Port()); }

void OnLineLost(TForm1& form) {
  // Out of the hand-over: the event thread must not wait on the technician.
  QTimer::singleShot(0, &form, [form = QPointer<TForm1>(&form), opening = Openings] {
    if (!form || opening != Openings) return;
    // A running send loop says itself at which line it stopped.
    if (Form2 && Form2->Looping() && Sending) return;
    Guarded([&] {
      AnnounceLineLost(*form, TheReception.Running() ? QStringLiteral("Přijaté věty zůstávají v okně; tlačítko Storno je uloží.")
                                        : QString());
    });
  });
}

void OnLineErrors(TForm1& form, TComErrors errors) {
  QStringList what;
  if (errors.Contains(erRxOver)) what << QStringLiteral("přetečení vstupní fronty");
  if (errors.Contains(erOverrun)) what << QStringLiteral("přetečení přijímače");
  if (errors.Contains(erFrame)) what << QStringLiteral("chyba rámce");
  if (errors.Contains(erRxParity)) what << QStringLiteral("chyba parity");
  if (what.isEmpty() || !TheReception.TakeLineErrorWarning()) return;
  const QString text = QStringLiteral("Při příjmu z portu %1 došlo k chybě linky (%2). Některé věty mohou chybět "
                                      "nebo být poškozené; zkontrolujte výpis, případně příjem opakujte.")
                           .arg(PortName(form), what.join(QStringLiteral(", ")));
  QTimer::singleShot(0, &form, [form = QPointer<TForm1>(&form), text] {
    if (form) ShowSystemBox(TopDialog(*form), QMessageBox::Warning, QStringLiteral(" UPOZORNĚNÍ "), text);
  });
}

#ifndef _WIN32
// The device behind `port` refuses this user (a busy port is refused the
// same way on Windows, so the error code alone does not tell): the line that
// says which group to join, or empty when the user may use the device.
QString PermissionReason(const QString& port) {
  const std::string device = PortDevicePath(port.toStdString());
  // As the opening itself: with the effective user and its privileges.
  if (device.empty() || ::faccessat(AT_FDCWD, device.c_str(), R_OK | W_OK, AT_EACCESS) == 0 || errno != EACCES)
    return {};
  const QString text = QStringLiteral("K portu %1 (%2) nemáte oprávnění.").arg(port, QString::fromStdString(device));
  struct stat st {};
  const group* owner = ::stat(device.c_str(), &st) == 0 && st.st_gid != 0 ? ::getgrgid(st.st_gid) : nullptr;
  if (!owner) return text;
  const passwd* user = ::getpwuid(::geteuid());
  const QString group = QString::fromLocal8Bit(owner->gr_name);
  return text + QStringLiteral(" Přidejte se do skupiny %1 (sudo usermod -aG %1 %2) a znovu se přihlaste.")
                    .arg(group, user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("$USER"));
}
#endif

// Why the port could not be opened, where the system said: a second line
// for the message, or empty.
QString OpenFailureReason(TForm1& form, const EComPort& e) {
  if (e.Code() != ecOpenFailed) return {};
  const QString port = PortName(form);
  switch (static_cast<DWORD>(e.WinErrorCode())) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return QStringLiteral("Port %1 v počítači není: převodník není zapojen, nebo má port jiné číslo.").arg(port);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: {
#ifndef _WIN32
      if (const QString denied = PermissionReason(port); !denied.isEmpty()) return denied;
#endif
      return QStringLiteral("Port %1 používá jiný program; ukončete ho, nebo zvolte jiný port.").arg(port);
    }
    default:
      return {};
  }
}

}  // namespace

void ClosePortOf(TForm1& form) {
  TComPort& port = *form.ComPort1;
  const bool gone = port.DeviceGone();
  try {
    port.Close();
  } catch (const EComPort&) {
    if (!gone) throw;
  }
}

bool OpenComPortForCommand(TForm1& form) {
  TComPort& port = *form.ComPort1;
  try {
    if (port.DeviceGone()) ClosePortOf(form);
    if (port.Buffer().InputSize() < kReceiveQueueBytes) port.Buffer().SetInputSize(kReceiveQueueBytes);
    if (!port.Connected()) {
      try {
        port.Open();
      } catch (const EComPort& e) {
        // A driver that refuses so large a queue keeps one of its own size.
        if (e.Code() != ecSetupCommFailed) throw;
        port.Buffer().SetInputSize(kDriverQueueBytes);
        port.Open();
      }
      ++Openings;
      LossAnnounced = false;
    }
  } catch (const std::exception& e) {
    QString text = QStringLiteral("Port nelze otevřít, upravte nastavení!");
    if (const auto* port = dynamic_cast<const EComPort*>(&e)) {
      if (const QString reason = OpenFailureReason(form, *port); !reason.isEmpty()) text += QLatin1Char('\n') + reason;
    }
    ShowPlainMessage(&form, text);
    return false;
  }
  return true;
}

void ConnectLineReports(TForm1& form) {
  form.ComPort1->OnLineLost = [&form](TObject*, int32_t) { OnLineLost(form); };
  form.ComPort1->OnError = [&form](TObject*, TComErrors errors) { OnLineErrors(form, errors); };
}

bool AnnounceLineLost(TForm1& form, const QString& detail) {
  if (LossAnnounced) return false;
  LossAnnounced = true;
  QString text = QStringLiteral("Spojení s ústřednou na portu %1 bylo přerušeno: zařízení portu se odpojilo "
                                "nebo přestalo odpovídat.")
                     .arg(PortName(form));
  if (!detail.isEmpty()) text += QLatin1Char(' ') + detail;
  ShowErrorBox(TopDialog(form), text);
  return true;
}
