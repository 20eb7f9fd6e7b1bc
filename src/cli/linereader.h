#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// Reads standard input one line at a time, when asked, on a thread of its own, so that the
// event loop goes on serving the port and Ctrl+C while the operator connects the next device.
// Type-ahead at a terminal is dropped at each request: an Enter pressed while frames were going
// out must not confirm a device that is not yet connected.
class LineReader {
public:
  // Calls onLine from context's event loop with each line read, or nothing at the end of input.
  LineReader(QObject *context, std::function<void(std::optional<QString>)> onLine);
  ~LineReader();
  LineReader(const LineReader &) = delete;
  LineReader &operator=(const LineReader &) = delete;

  void requestLine();

private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};
