#include "window/quitonsignal.h"

#include "serial/terminationsignal.h"

#include <QApplication>

void quitOnTerminationSignals() {
  onTerminationSignal(qApp, [](int) {
    QApplication::closeAllWindows();
    QCoreApplication::quit();
  });
}
