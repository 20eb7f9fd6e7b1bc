#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// Reads the operator's answers one line at a time, when asked, on a thread of its own, so that
// the event loop goes on serving the port and Ctrl+C while the operator connects the next device.
//
// From a pipe or a file every line is an answer. At a terminal an empty line (Enter) confirms a
// device only when it is one deliberate press for the prompt just shown: type-ahead is dropped at
// each request, and an Enter counts only when it comes at least settleMs after the prompt and
// after the Enter before it, and at least betweenDevicesMs after the Enter that confirmed the
// device before. So the repeats of a held key (their delay is shorter than betweenDevicesMs,
// their pace faster than settleMs), the second of a double press and an Enter pressed as the
// prompt appeared count for nothing; each is told through onIgnoredPress, and the reader goes on
// waiting.
class LineReader {
public:
  static constexpr int settleMs = 500;
  static constexpr int betweenDevicesMs = 2000;

  using OnLine = std::function<void(std::optional<QString>)>;

  // Calls onLine from context's event loop with each answer read from the descriptor input, or
  // nothing at the end of input.
  LineReader(QObject *context, int input, OnLine onLine, std::function<void()> onIgnoredPress);
  ~LineReader();
  LineReader(const LineReader &) = delete;
  LineReader &operator=(const LineReader &) = delete;

  void requestLine();

private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};
