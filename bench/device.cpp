#include "device.h"

#include "clock.h"

#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

void require(bool ok, const char *what) {
  if (ok)
    return;
  std::perror(what);
  std::exit(2);
}

void writeAll(int fd, const QByteArray &bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
    require(n > 0, "write to the pseudo-terminal");
    done += n;
  }
}

} // namespace

Device::Device(FrameHandler onFrame) : onFrame_(std::move(onFrame)) {
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  require(openpty(&master_, &slave_, name, &raw, nullptr) == 0, "openpty");
  require(::pipe(wake_) == 0, "pipe");
  path_ = QString::fromLocal8Bit(name);
  thread_ = std::thread(&Device::serve, this);
}

Device::~Device() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  writeAll(wake_[1], QByteArray(1, 's'));
  thread_.join();
  for (int fd : {master_, slave_, wake_[0], wake_[1]})
    ::close(fd);
}

void Device::write(const QByteArray &bytes) { writeAll(master_, bytes); }

void Device::writeFromDevice(const QByteArray &bytes) {
  {
    std::lock_guard lock(mutex_);
    toWrite_ += bytes;
  }
  writeAll(wake_[1], QByteArray(1, 'w'));
}

void Device::serve() {
  QByteArray received;
  for (;;) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0)
      continue;
    if (fds[0].revents & POLLIN) {
      char chunk[4096];
      const ssize_t n = ::read(master_, chunk, sizeof chunk);
      const long long readAt = monotonicNs();
      if (n > 0)
        received.append(chunk, n);
      for (qsizetype end; (end = received.indexOf('\r')) >= 0;) {
        onFrame_(received.first(end + 1), readAt);
        received.remove(0, end + 1);
      }
    }
    if (fds[1].revents & POLLIN) {
      char tokens[64];
      if (::read(wake_[0], tokens, sizeof tokens) <= 0)
        continue;
      std::unique_lock lock(mutex_);
      if (stopping_)
        return;
      const QByteArray bytes = std::exchange(toWrite_, {});
      lock.unlock();
      if (!bytes.isEmpty()) {
        lastWriteNs_ = monotonicNs();
        writeAll(master_, bytes);
      }
    }
  }
}
