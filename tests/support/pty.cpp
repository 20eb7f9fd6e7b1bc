#include "support/pty.h"

#include <QtTest>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal(Mode mode) {
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&master_, &slave_, name, mode == Mode::Raw ? &raw : nullptr, nullptr) != 0)
    qFatal("openpty failed");
  path_ = QString::fromLocal8Bit(name);
  // A program the test starts must not hold the device's side open: closing it would then
  // not hang the line up.
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PseudoTerminal::~PseudoTerminal() {
  closeDevice();
  ::close(slave_);
}

void PseudoTerminal::write(const QByteArray &bytes) { QVERIFY(writeAll(bytes)); }

bool PseudoTerminal::writeAll(const QByteArray &bytes) {
  for (qsizetype sent = 0; sent < bytes.size();) {
    const ssize_t n = ::write(master_, bytes.constData() + sent, size_t(bytes.size() - sent));
    if (n < 0 && errno != EINTR)
      return false;
    sent += qMax<ssize_t>(n, 0);
  }
  return true;
}

QByteArray PseudoTerminal::read(int quietMs) {
  QByteArray bytes;
  pollfd fd{master_, POLLIN, 0};
  while (master_ >= 0 && ::poll(&fd, 1, quietMs) > 0 && (fd.revents & POLLIN)) {
    char chunk[4096];
    const ssize_t n = ::read(master_, chunk, sizeof chunk);
    if (n <= 0)
      break;
    bytes.append(chunk, n);
  }
  return bytes;
}

QByteArray PseudoTerminal::readFrame(int timeoutMs) {
  QByteArray bytes;
  const QDeadlineTimer guard(timeoutMs);
  while (!bytes.endsWith('\r') && !guard.hasExpired())
    bytes += read(5);
  return bytes;
}

namespace {

// A line the test could not fill would let the frames through and pass for a fault of the program.
qint64 cannotFill() {
  QTest::qFail(qPrintable(QStringLiteral("cannot fill the terminal: %1").arg(qt_error_string())),
               __FILE__, __LINE__);
  return -1;
}

} // namespace

qint64 PseudoTerminal::fillUntilFull() {
  // Through the program's side that the test holds open: an opening of its own would fail with
  // EBUSY unless the test runs as root, as the program takes the line for itself (TIOCEXCL).
  const int flags = fcntl(slave_, F_GETFL);
  if (flags < 0 || fcntl(slave_, F_SETFL, flags | O_NONBLOCK) != 0)
    return cannotFill();
  const QByteArray filler(256, 'x');
  qint64 filled = 0;
  for (ssize_t n; (n = ::write(slave_, filler.constData(), size_t(filler.size()))) > 0;)
    filled += n;
  fcntl(slave_, F_SETFL, flags);
  // The terminal moves what it holds on to this side a moment later, making room again. Its
  // output stopped, as a device's XOFF stops a line, it takes nothing more for good: there is no
  // quiet moment to wait for.
  if (filled == 0 || tcflow(slave_, TCOOFF) != 0)
    return cannotFill();
  return filled;
}

void PseudoTerminal::stopReading() { QVERIFY(tcflow(slave_, TCOOFF) == 0); }

void PseudoTerminal::readAgain() { QVERIFY(tcflow(slave_, TCOON) == 0); }

bool PseudoTerminal::lineSettings(termios &settings) const {
  return tcgetattr(slave_, &settings) == 0;
}

bool PseudoTerminal::holdExclusively(bool hold) {
  return ::ioctl(slave_, hold ? TIOCEXCL : TIOCNXCL) == 0;
}

void PseudoTerminal::closeDevice() {
  if (master_ >= 0)
    ::close(master_);
  master_ = -1;
}
