#include "window/quitonsignal.h"

#include "common/terminationsignal.h"

#include <QApplication>

namespace {

bool signalled = false;

} // namespace

bool quittingOnSignal() { return signalled; }

void quitOnTerminationSignals() {
  onTerminationSignal(qApp, [](int) {
    signalled = true;
    QApplication::closeAllWindows();
    QCoreApplication::quit();
  });
}
