#include "window/quitonsignal.h"

#include <QApplication>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalSocket[2] = {-1, -1};

// Only async-signal-safe calls here: the event loop does the rest when it reads the byte.
void onTerminationSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalSocket[0], &byte, 1);
}

void closeWindowsAndQuit() {
  char byte;
  [[maybe_unused]] const ssize_t read = ::read(signalSocket[1], &byte, 1);
  QApplication::closeAllWindows();
  QCoreApplication::quit();
}

} // namespace

void quitOnTerminationSignals() {
  if (signalSocket[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSocket) != 0)
    return;
  auto *notifier = new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, closeWindowsAndQuit);
  struct sigaction action {};
  action.sa_handler = onTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP})
    ::sigaction(signal, &action, nullptr);
}

#else

void quitOnTerminationSignals() {}

#endif
