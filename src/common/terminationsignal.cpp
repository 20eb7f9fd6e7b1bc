#include "common/terminationsignal.h"

#include <QCoreApplication>
#include <QPointer>
#include <csignal>

namespace {

QPointer<QObject> handlerContext;
std::function<void(int)> signalHandler;

void callHandler(int signal) {
  if (handlerContext && signalHandler)
    signalHandler(signal);
}

} // namespace

#ifdef Q_OS_WIN
#include <atomic>
#include <windows.h>

namespace {

std::atomic_flag askedToEnd = ATOMIC_FLAG_INIT;

// The system calls this on a thread of its own; the event loop's thread does the work. Only the
// first Ctrl+C is taken: should the event loop not get to it (a wait that does not return), the
// next one is left to the system, which ends the program at once.
BOOL WINAPI onConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    return FALSE;
  QCoreApplication *application = QCoreApplication::instance();
  if (!application || askedToEnd.test_and_set())
    return FALSE;
  QMetaObject::invokeMethod(
      application, [] { callHandler(SIGINT); }, Qt::QueuedConnection);
  return TRUE;
}

} // namespace

void onTerminationSignal(QObject *context, std::function<void(int signal)> handler) {
  handlerContext = context;
  signalHandler = std::move(handler);
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

#else
#include <QSocketNotifier>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalSocket[2] = {-1, -1};

// Only async-signal-safe calls here: the event loop does the rest when it reads the byte. The
// code this interrupted may be about to read errno, which write can change. The socket does not
// block, so a burst of signals that fills it cannot hang the handler; one byte is enough.
void onSignal(int signal) {
  const int savedErrno = errno;
  const char byte = char(signal);
  [[maybe_unused]] const ssize_t written = ::write(signalSocket[0], &byte, 1);
  errno = savedErrno;
}

void readSignals() {
  char bytes[64];
  int first = 0;
  for (ssize_t count; (count = ::read(signalSocket[1], bytes, sizeof bytes)) > 0;)
    first = first ? first : bytes[0];
  if (first)
    callHandler(first);
}

} // namespace

void onTerminationSignal(QObject *context, std::function<void(int signal)> handler) {
  handlerContext = context;
  signalHandler = std::move(handler);
  // Non-blocking, and closed in the programs this one may start, which must not hold it.
  if (signalSocket[0] >= 0 ||
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSocket) != 0)
    return;
  auto *notifier =
      new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, readSignals);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // "nohup qelnor-setup &" asks that closing the terminal leaves the program running.
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction inherited {};
    if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN)
      ::sigaction(signal, &action, nullptr);
  }
}

#endif
