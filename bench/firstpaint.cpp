// Loaded into a program with LD_PRELOAD: when its first window has painted and the picture has
// been handed to the platform, prints "firstpaint <monotonic ns>" on standard output and ends
// the program there, so that what it would do next (and its teardown) is not counted. The programs measured, the shipped qelnor-setup among them, carry
// no code of the benchmark's. A window that has not painted within a minute (valgrind is slow)
// ends the program with exit code 1.
#include "clock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace {

class FirstPaintReporter : public QObject {
protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() != QEvent::Paint || painted_ || !watched->isWidgetType() ||
        !static_cast<QWidget *>(watched)->isWindow())
      return false;
    painted_ = true;
    // The window's paint event comes before its children paint and before the backing store
    // is flushed; a zero timer fires once that whole pass is done.
    QTimer::singleShot(0, this, [] {
      std::printf("firstpaint %lld\n", monotonicNs());
      std::fflush(stdout);
      std::_Exit(0);
    });
    return false;
  }

private:
  bool painted_ = false;
};

// Runs as the program's QApplication is made, before its window exists.
void watchForTheFirstPaint() {
  auto *reporter = new FirstPaintReporter;
  reporter->moveToThread(QCoreApplication::instance()->thread());
  QCoreApplication::instance()->installEventFilter(reporter);
  QTimer::singleShot(60'000, QCoreApplication::instance(), [] {
    std::fprintf(stderr, "no paint within 60 s\n");
    QCoreApplication::exit(1);
  });
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchForTheFirstPaint)
