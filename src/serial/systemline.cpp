#include "serial/systemline.h"

#ifdef Q_OS_WIN
#include <windows.h>

// Qt writes through overlapped I/O from its own buffer, whose count bytesToWrite() gives, and
// keeps a read pending all the time, so nothing waits in the driver unseen.
qint64 systemOutputQueued(SerialHandle) { return 0; }

bool systemInputPending(SerialHandle) { return false; }

// The modem status cannot be read from a device that has been removed.
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
