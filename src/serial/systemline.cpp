#include "serial/systemline.h"

#ifdef Q_OS_WIN
#include <windows.h>

// Qt writes through overlapped I/O from its own buffer, whose count bytesToWrite() gives, and
// keeps a read pending all the time, so nothing waits in the driver unseen.
qint64 systemOutputQueued(SerialHandle) { return 0; }

bool systemInputPending(SerialHandle) { return false; }

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

#else
#include <poll.h>
#include <sys/ioctl.h>

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

bool systemInputPending(SerialHandle handle) { return pollNow(handle, POLLIN) & POLLIN; }

bool deviceHungUp(SerialHandle handle) {
  return pollNow(handle, 0) & (POLLHUP | POLLERR | POLLNVAL);
}
#endif
