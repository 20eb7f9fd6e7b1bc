#include "serial/transmitter.h"

#include <atomic>

#ifdef Q_OS_WIN

// A 16550's FIFO, which Windows' serial driver fills and then no longer counts, and the shift
// register behind it.
constexpr qint64 fifoBytes = 16 + 1;

struct Transmitter::Drain {};

void Transmitter::start(SerialHandle, qint64 bytes, qint64 characterMicros) {
  started_ = true;
  bound_ =
      QDeadlineTimer((qMin(bytes, fifoBytes) * characterMicros + 999) / 1000, Qt::PreciseTimer);
}

Transmitter::State Transmitter::state() const {
  if (!started_)
    return State::Idle;
  return bound_.hasExpired() ? State::Empty : State::Sending;
}

#else
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

// What the drain's thread shares with the port. The thread may outlive the port (a transmitter
// that never empties), so it owns this and a descriptor of its own.
struct Transmitter::Drain {
  std::atomic<bool> done = false;
};

void Transmitter::start(SerialHandle handle, qint64 bytes, qint64 characterMicros) {
  started_ = true;
  drain_.reset();
  const qint64 lineMs = (bytes * characterMicros + 999) / 1000;
  const int descriptor = ::fcntl(handle, F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) {
    // Nothing to wait on: the line time is all there is to go by.
    bound_ = QDeadlineTimer(lineMs, Qt::PreciseTimer);
    return;
  }
  drain_ = std::make_shared<Drain>();
  std::thread([drain = drain_, descriptor] {
    ::tcdrain(descriptor);
    ::close(descriptor);
    drain->done = true;
  }).detach();
}

Transmitter::State Transmitter::state() const {
  if (!started_)
    return State::Idle;
  return (drain_ ? drain_->done.load() : bound_.hasExpired()) ? State::Empty : State::Sending;
}

#endif

void Transmitter::reset() {
  drain_.reset();
  started_ = false;
}
