#include "window/quitonsignal.h"

#include <QApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalSocket[2] = {-1, -1};

// Only async-signal-safe calls here: the event loop does the rest when it reads the byte. The
// code this interrupted may be about to read errno, which write can change. The socket does not
// block, so a burst of signals that fills it cannot hang the handler; one byte is enough.
void onTerminationSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalSocket[0], &byte, 1);
  errno = savedErrno;
}

void closeWindowsAndQuit() {
  char bytes[64];
  while (::read(signalSocket[1], bytes, sizeof bytes) > 0) {
  }
  QApplication::closeAllWindows();
  QCoreApplication::quit();
}

} // namespace

void quitOnTerminationSignals() {
  // Non-blocking, and closed in the programs this one may start, which must not hold it.
  if (signalSocket[0] >= 0 ||
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSocket) != 0)
    return;
  auto *notifier = new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, closeWindowsAndQuit);
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A signal ignored when the program started stays ignored: "nohup qelnor-setup &" asks that
  // closing the terminal leaves the program running.
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction inherited {};
    if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN)
      ::sigaction(signal, &action, nullptr);
  }
}

#else

void quitOnTerminationSignals() {}

#endif
