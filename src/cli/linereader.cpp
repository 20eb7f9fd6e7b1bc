#include "cli/linereader.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

bool isTerminal(int input) {
#ifdef Q_OS_WIN
  return _isatty(input);
#else
  return isatty(input);
#endif
}

void dropTypeAhead(int input) {
#ifdef Q_OS_WIN
  FlushConsoleInputBuffer(reinterpret_cast<HANDLE>(_get_osfhandle(input)));
#else
  tcflush(input, TCIFLUSH);
#endif
}

// Byte by byte from the descriptor, not through stdio: a thread blocked inside stdio holds the
// stream's lock, and the C library's exit, which flushes every stream under its lock (glibc from
// 2.41 on), would wait for it for ever when the run ends while the operator is asked.
int readByte(int input) {
  unsigned char byte = 0;
#ifdef Q_OS_WIN
  return _read(input, &byte, 1) == 1 ? byte : EOF;
#else
  ssize_t read = 0;
  do
    read = ::read(input, &byte, 1);
  while (read < 0 && errno == EINTR);
  return read == 1 ? byte : EOF;
#endif
}

std::optional<QByteArray> readLine(int input) {
  QByteArray line;
  for (int c = readByte(input); c != '\n'; c = readByte(input)) {
    if (c == EOF)
      return line.isEmpty() ? std::nullopt : std::optional(line);
    line.append(char(c));
  }
  return line;
}

} // namespace

// The thread may be blocked in a read when the program ends; it owns its share of the state,
// and the context is cleared under the lock so that it never posts to an object that is gone.
struct LineReader::Shared {
  std::mutex mutex;
  std::condition_variable wanted;
  int requests = 0;
  Clock::time_point askedAt;
  QObject *context = nullptr;
  OnLine onLine;
  std::function<void()> onIgnoredPress;
  int input = 0;
  bool terminal = false;

  // Hands call to the context's event loop; false once the context is gone.
  template <typename Call> bool post(Call call) {
    const std::lock_guard lock(mutex);
    if (!context)
      return false;
    QMetaObject::invokeMethod(context, std::move(call), Qt::QueuedConnection);
    return true;
  }

  // The next answer for the request made at askedAt. lastEnter is when the terminal's latest
  // Enter came, lastTaken when the latest that confirmed a device did.
  std::optional<QByteArray> answer(Clock::time_point askedAt, Clock::time_point &lastEnter,
                                   Clock::time_point &lastTaken) {
    for (;;) {
      auto line = readLine(input);
      if (!terminal || !line)
        return line;
      const Clock::time_point enteredAt = Clock::now();
      const bool taken =
          enteredAt - qMax(askedAt, lastEnter) >= std::chrono::milliseconds(settleMs) &&
          enteredAt - lastTaken >= std::chrono::milliseconds(betweenDevicesMs);
      lastEnter = enteredAt;
      if (!line->trimmed().isEmpty())
        return line;
      if (taken) {
        lastTaken = enteredAt;
        return line;
      }
      if (!post(onIgnoredPress))
        return std::nullopt;
    }
  }
};

LineReader::LineReader(QObject *context, int input, OnLine onLine,
                       std::function<void()> onIgnoredPress)
    : shared_(std::make_shared<Shared>()) {
  shared_->context = context;
  shared_->onLine = std::move(onLine);
  shared_->onIgnoredPress = std::move(onIgnoredPress);
  shared_->input = input;
  shared_->terminal = isTerminal(input);
  std::thread([shared = shared_] {
    Clock::time_point lastEnter;
    Clock::time_point lastTaken;
    for (;;) {
      Clock::time_point askedAt;
      {
        std::unique_lock lock(shared->mutex);
        shared->wanted.wait(lock, [&] { return shared->requests > 0 || !shared->context; });
        if (!shared->context)
          return;
        --shared->requests;
        askedAt = shared->askedAt;
      }
      const auto bytes = shared->answer(askedAt, lastEnter, lastTaken);
      std::optional<QString> line;
      if (bytes)
        line = QString::fromLocal8Bit(*bytes).remove(QLatin1Char('\r'));
      if (!shared->post([onLine = shared->onLine, line] { onLine(line); }) || !bytes)
        return;
    }
  }).detach();
}

LineReader::~LineReader() {
  const std::lock_guard lock(shared_->mutex);
  shared_->context = nullptr;
  shared_->wanted.notify_all();
}

void LineReader::requestLine() {
  if (shared_->terminal)
    dropTypeAhead(shared_->input);
  const std::lock_guard lock(shared_->mutex);
  ++shared_->requests;
  shared_->askedAt = Clock::now();
  shared_->wanted.notify_all();
}
