#include "cli/linereader.h"

#include <cerrno>
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

void dropTypeAhead() {
#ifdef Q_OS_WIN
  if (_isatty(_fileno(stdin)))
    FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
#else
  if (isatty(STDIN_FILENO))
    tcflush(STDIN_FILENO, TCIFLUSH);
#endif
}

// Byte by byte from the descriptor, not through stdio: a thread blocked inside stdio holds the
// stream's lock, and the C library's exit, which flushes every stream under its lock (glibc from
// 2.41 on), would wait for it for ever when the run ends while the operator is asked.
int readByte() {
  unsigned char byte = 0;
#ifdef Q_OS_WIN
  return _read(0, &byte, 1) == 1 ? byte : EOF;
#else
  ssize_t read = 0;
  do
    read = ::read(STDIN_FILENO, &byte, 1);
  while (read < 0 && errno == EINTR);
  return read == 1 ? byte : EOF;
#endif
}

std::optional<QByteArray> readLine() {
  QByteArray line;
  for (int c = readByte(); c != '\n'; c = readByte()) {
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
  QObject *context = nullptr;
  std::function<void(std::optional<QString>)> onLine;
};

LineReader::LineReader(QObject *context, std::function<void(std::optional<QString>)> onLine)
    : shared_(std::make_shared<Shared>()) {
  shared_->context = context;
  shared_->onLine = std::move(onLine);
  std::thread([shared = shared_] {
    for (;;) {
      {
        std::unique_lock lock(shared->mutex);
        shared->wanted.wait(lock, [&] { return shared->requests > 0 || !shared->context; });
        if (!shared->context)
          return;
        --shared->requests;
      }
      const auto bytes = readLine();
      std::optional<QString> line;
      if (bytes)
        line = QString::fromLocal8Bit(*bytes).remove(QLatin1Char('\r'));
      const std::lock_guard lock(shared->mutex);
      if (!shared->context)
        return;
      QMetaObject::invokeMethod(
          shared->context, [onLine = shared->onLine, line] { onLine(line); }, Qt::QueuedConnection);
      if (!bytes)
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
  dropTypeAhead();
  const std::lock_guard lock(shared_->mutex);
  ++shared_->requests;
  shared_->wanted.notify_all();
}
