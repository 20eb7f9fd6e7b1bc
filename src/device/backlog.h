#pragma once

#include <QByteArray>
#include <QList>

// One thing that happened on the line and waits to be shown: a reply, bytes dropped as stray
// before a reply, or replies dropped because too many were waiting.
struct LineEvent {
  enum class Kind { Reply, Stray, Dropped };
  Kind kind;
  // Reply: the block. Stray: the dropped bytes, the first ReplyBacklog::strayBytesKept of them.
  QByteArray bytes;
  qint64 replies = 0;    // Dropped: replies dropped here
  qint64 strayBytes = 0; // Stray and Dropped: stray bytes dropped here
};

// What has arrived while the operator still reads an earlier box, in arrival order. A device
// that never stops sending must not grow memory without bound, so at most capacity replies
// wait; what comes on top is counted where it happened, so the operator learns of the gap and
// of nothing else.
class ReplyBacklog {
public:
  static constexpr qsizetype defaultCapacity = 64;
  static constexpr qsizetype strayBytesKept = 32;

  explicit ReplyBacklog(qsizetype capacity = defaultCapacity) : capacity_(capacity) {}

  void push(const QByteArray &reply);
  void pushStray(const QByteArray &bytes);

  // Takes the oldest events holding at most maxLines replies or drop counts, each with the
  // stray bytes that came before it. Stray bytes with nothing after them yet stay: they are
  // told with the reply that follows them.
  QList<LineEvent> take(qsizetype maxLines);

  // The port has closed: stray bytes told with no reply after them are forgotten, since no
  // reply of that line can follow them any more.
  void lineClosed();

  // A reply or a drop count waits to be shown.
  bool hasWaiting() const { return waitingLines_ > 0; }
  qsizetype repliesWaiting() const { return replies_; }

private:
  bool full() const { return replies_ >= capacity_; }
  LineEvent &trailing(LineEvent::Kind kind);

  qsizetype capacity_;
  QList<LineEvent> events_;
  qsizetype replies_ = 0;
  qsizetype waitingLines_ = 0;
};
