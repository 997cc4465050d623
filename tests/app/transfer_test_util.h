// Helpers for the receive and send tests: answers that wait for a condition
// before pressing, file access, and the simulated exchange as a child
// process on a pseudo-terminal whose output is read in the Qt event loop.
#pragma once

#include "tests/app/gui_test_util.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

// Generous upper bound for anything the tests wait for.
constexpr int kPatienceMs = 120000;

// An answer that waits (in the event loop) until `ready` holds, then runs
// `action` on the dialog. Should the dialog go first, nothing happens; should
// the patience run out, the action runs anyway and `*timedOut` is set.
inline DialogAnswerer::Answer When(std::function<bool()> ready, DialogAnswerer::Answer action,
                                   bool* timedOut = nullptr) {
  return [ready = std::move(ready), action = std::move(action), timedOut](QWidget* dialog) {
    QPointer<QWidget> target(dialog);
    auto* timer = new QTimer(dialog);
    auto* deadline = new QTimer(dialog);
    deadline->setSingleShot(true);
    deadline->start(kPatienceMs);
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, dialog, [=] {
      const bool late = !deadline->isActive();
      if (!late && !ready()) return;
      if (late && timedOut) *timedOut = true;
      timer->stop();
      if (target) action(target);
    });
    timer->start();
  };
}

// For a dialog that is shown again and again (the save dialog lives as long
// as the main window): lets the next showing be answered too.
inline DialogAnswerer::Answer Reusable(DialogAnswerer::Answer answer) {
  return [answer = std::move(answer)](QWidget* dialog) {
    dialog->setProperty("answeredByTest", false);
    answer(dialog);
  };
}

// Answers the save dialog: types `path` as the file name and saves.
inline DialogAnswerer::Answer SaveAs(const QString& path) {
  return [path](QWidget* widget) {
    widget->setProperty("answeredByTest", false);
    auto* dialog = qobject_cast<QFileDialog*>(widget);
    if (!dialog) return;
    dialog->selectFile(path);
    DialogAnswerer::PressButton(dialog, QStringLiteral("Uložit"));
  };
}

inline std::string ReadBytes(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteBytes(const QString& path, const std::string& bytes) {
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Lines joined as a dump file holds them: each followed by CR LF.
inline std::string DumpOf(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\r\n";
  return bytes;
}

// The simulated exchange on a fresh pseudo-terminal.
class ExchangeSim {
 public:
  explicit ExchangeSim(std::vector<std::string> args) {
    int out[2];
    int in[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    args.insert(args.begin(), {EXCHANGE_SIM_PATH, "--pty", "--print-path", "--quit-on-eof"});
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, EXCHANGE_SIM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    output_ = out[0];
    input_ = in[1];
    if (error != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " EXCHANGE_SIM_PATH);
    }
    ::fcntl(output_, F_SETFL, ::fcntl(output_, F_GETFL) | O_NONBLOCK);
    notifier_ = new QSocketNotifier(output_, QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, notifier_, [this] { ReadOutput(); });
    if (!ProcessEventsUntil([this] { return !lines_.empty() || ended_; }, kPatienceMs) || lines_.empty())
      throw std::runtime_error("the simulator printed no path");
    path_ = lines_.front();
  }

  ~ExchangeSim() {
    Kill();
    delete notifier_;
    ::close(output_);
    if (input_ >= 0) ::close(input_);
  }

  const std::string& Path() const { return path_; }

  // Kills it at once, as a pulled cable: the pseudo-terminal hangs up.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // A command on its standard input ("dump", "status").
  void Command(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      throw std::runtime_error("cannot write to the simulator");
  }

  // Waits for an output line starting with `prefix`; returns it (empty when none came).
  std::string WaitFor(const std::string& prefix, int timeoutMs = kPatienceMs) {
    std::string found;
    ProcessEventsUntil(
        [&] {
          for (size_t i = checked_; i < lines_.size(); ++i) {
            if (lines_[i].rfind(prefix, 0) == 0) {
              found = lines_[i];
              checked_ = i + 1;
              return true;
            }
          }
          return ended_;
        },
        timeoutMs);
    return found;
  }

  bool Saw(const std::string& prefix) const {
    for (const std::string& l : lines_)
      if (l.rfind(prefix, 0) == 0) return true;
    return false;
  }

  std::string Transcript() const {
    std::string all;
    for (const std::string& l : lines_) all += l + "\n";
    return all;
  }

 private:
  void ReadOutput() {
    char chunk[4096];
    for (;;) {
      const ssize_t n = ::read(output_, chunk, sizeof chunk);
      if (n > 0) {
        buffer_.append(chunk, static_cast<size_t>(n));
        continue;
      }
      if (n == 0) {
        ended_ = true;
        notifier_->setEnabled(false);
      }
      break;
    }
    for (size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
      lines_.push_back(buffer_.substr(0, end));
      buffer_.erase(0, end + 1);
    }
  }

  pid_t pid_ = -1;
  int output_ = -1;
  int input_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  std::string buffer_;
  std::vector<std::string> lines_;
  size_t checked_ = 1;
  bool ended_ = false;
  std::string path_;
};
