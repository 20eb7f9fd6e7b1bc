#include "serial/hangupwatch.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>

// A descriptor of its own: Qt keeps one notifier per descriptor and type, and a second one on
// the port's would upset it. Both share the one open device, so a hang-up shows on both.
void HangUpWatch::start(SerialHandle handle) {
  stop();
  descriptor_ = ::fcntl(handle, F_DUPFD_CLOEXEC, 0);
  if (descriptor_ < 0)
    return;
  notifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &HangUpWatch::check);
}

void HangUpWatch::stop() {
  if (notifier_) {
    // It may be stopped from its own signal: deleted once that is over.
    notifier_->setEnabled(false);
    notifier_->deleteLater();
    notifier_ = nullptr;
  }
  if (descriptor_ >= 0)
    ::close(descriptor_);
  descriptor_ = -1;
}

// Readable bytes wake it too; the port reads those in the same turn of the event loop.
void HangUpWatch::check() {
  if (!deviceHungUp(descriptor_))
    return;
  stop();
  emit hungUp();
}

#else

void HangUpWatch::start(SerialHandle) {}
void HangUpWatch::stop() {}
void HangUpWatch::check() {}

#endif
