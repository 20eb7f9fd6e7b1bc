#pragma once

#include <QByteArray>
#include <QQueue>
#include <optional>

// Replies that have arrived while the operator still reads an earlier one. A device that
// never stops sending must not grow memory without bound, so the backlog holds at most
// capacity replies; later ones are counted as dropped until there is room again, and the
// count since the last take travels with the next reply taken, so the operator learns of the
// loss.
class ReplyBacklog {
public:
  static constexpr qsizetype defaultCapacity = 64;

  struct Waiting {
    QByteArray reply;
    qint64 droppedMeanwhile = 0;
  };

  explicit ReplyBacklog(qsizetype capacity = defaultCapacity) : capacity_(capacity) {}

  // False when the reply was dropped because the backlog is full.
  bool push(const QByteArray &reply);
  std::optional<Waiting> take();

  qsizetype size() const { return replies_.size(); }
  bool isEmpty() const { return replies_.isEmpty(); }

private:
  qsizetype capacity_;
  QQueue<QByteArray> replies_;
  qint64 dropped_ = 0;
};
