#include "serial/systemline.h"

#ifdef Q_OS_WIN
#include <windows.h>

namespace {

COMSTAT commStatus(SerialHandle handle) {
  COMSTAT status{};
  DWORD errors = 0;
  return ClearCommError(handle, &errors, &status) ? status : COMSTAT{};
}

qint64 outputQueue(SerialHandle handle) { return commStatus(handle).cbOutQue; }

} // namespace

// What the pending writes still hold: Qt writes through overlapped I/O, and a write stays pending
// in the driver, whole, until its last byte has gone; ClearCommError counts those bytes. Qt's
// bytesToWrite() counts the same write's bytes until it completes.
qint64 systemOutputQueued(SerialHandle handle) { return outputQueue(handle); }

// A write is never taken in part on Windows: it waits in the driver until it has gone or is
// purged. Handing over a frame only when no write is pending keeps one frame at a time there.
bool systemTakesFrameWhole(SerialHandle handle) { return outputQueue(handle) == 0; }

bool systemInputPending(SerialHandle) { return false; }

qint64 systemInputQueued(SerialHandle handle) { return commStatus(handle).cbInQue; }

// Qt 6.4 keeps a WaitCommEvent pending on the port, so a removed device always ends up as an
// error of the port: the wait (or a read or write) completes with ERROR_ACCESS_DENIED, which Qt
// raises as PermissionError, or with ERROR_BAD_COMMAND, ERROR_DEVICE_REMOVED or
// ERROR_OPERATION_ABORTED (what Wine gives when a pseudo-terminal behind COMn hangs up), all
// raised as ResourceError. Whichever it is, SerialPort closes the port on it; this check only
// decides whether the box says the device was disconnected: the modem status cannot be read
// from a device that has gone (ERROR_NOT_READY under Wine, the errors above on a real PC).
bool deviceHungUp(SerialHandle handle) {
  DWORD status = 0;
  return !GetCommModemStatus(handle, &status);
}

// Every port Windows opens as COMn has a driver with a transmit queue behind it.
bool systemHasTransmitter(SerialHandle) { return true; }

ExclusiveCheck::ExclusiveCheck(const QString &) {}
ExclusiveCheck::~ExclusiveCheck() = default;

#else
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

short pollNow(SerialHandle handle, short events) {
  pollfd fd{handle, events, 0};
  return ::poll(&fd, 1, 0) > 0 ? fd.revents : 0;
}

} // namespace

qint64 systemOutputQueued(SerialHandle handle) {
  int queued = 0;
  return ::ioctl(handle, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

// POLLOUT on a terminal means fewer than 256 bytes wait and there is room: a UART's or a USB
// adapter's buffer of a page then has thousands of bytes free, a CDC device at least 12 of its 16
// transfer buffers, and a pseudo-terminal can still take a buffer of 256 bytes. A frame of this
// program fits in each; without POLLOUT a write could be cut short, leaving the head of a frame in
// the driver for the next command to be glued onto.
bool systemTakesFrameWhole(SerialHandle handle) { return pollNow(handle, POLLOUT) & POLLOUT; }

bool systemInputPending(SerialHandle handle) { return pollNow(handle, POLLIN) & POLLIN; }

bool waitForInput(SerialHandle handle, int ms) {
  pollfd fd{handle, POLLIN, 0};
  return ::poll(&fd, 1, ms) > 0 && (fd.revents & POLLIN);
}

qint64 systemInputQueued(SerialHandle handle) {
  int queued = 0;
  return ::ioctl(handle, FIONREAD, &queued) == 0 ? queued : 0;
}

bool deviceHungUp(SerialHandle handle) {
  return pollNow(handle, 0) & (POLLHUP | POLLERR | POLLNVAL);
}

// Serial drivers (the UARTs', USB adapters' and modems') describe their line; a pseudo-terminal
// has nothing to describe.
bool systemHasTransmitter(SerialHandle handle) {
  serial_struct line{};
  return ::ioctl(handle, TIOCGSERIAL, &line) == 0;
}

// Opened without waiting for a carrier and without becoming the controlling terminal, as Qt opens
// it. A device held exclusively refuses the open of anyone but root with EBUSY; root's open
// succeeds and the flag tells.
ExclusiveCheck::ExclusiveCheck(const QString &device) {
  descriptor_ =
      ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor_ < 0) {
    heldByAnother_ = errno == EBUSY;
    return;
  }
#ifdef TIOCGEXCL
  int exclusive = 0;
  heldByAnother_ = ::ioctl(descriptor_, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#endif
}

ExclusiveCheck::~ExclusiveCheck() {
  if (descriptor_ >= 0)
    ::close(descriptor_);
}
#endif
