#pragma once

#include <QByteArray>
#include <QList>
#include <optional>

// One thing that happened on the line and waits to be shown: a reply, bytes dropped as stray
// before a reply, bytes dropped as stray that no reply followed, or replies (or stray bytes)
// dropped because too many replies were waiting.
struct LineEvent {
  enum class Kind { Reply, Stray, Dropped, LoneStray };
  Kind kind;
  // Reply: the block. Stray, LoneStray: the dropped bytes, the first
  // ReplyBacklog::strayBytesKept of them.
  QByteArray bytes;
  qint64 replies = 0;    // Dropped: replies dropped here
  qint64 strayBytes = 0; // Stray, LoneStray and Dropped: stray bytes dropped here
};

// What has arrived while the operator still reads an earlier box, in arrival order. A device
// that never stops sending must not grow memory without bound, nor the boxes to click through,
// so at most capacity lines of replies and lone stray runs wait; what comes on top is counted
// where it happened, so the operator learns of the gap and of nothing else.
class ReplyBacklog {
public:
  static constexpr qsizetype defaultCapacity = 64;
  static constexpr qsizetype strayBytesKept = 32;

  explicit ReplyBacklog(qsizetype capacity = defaultCapacity) : capacity_(capacity) {}

  void push(const QByteArray &reply);
  void pushStray(const QByteArray &bytes);

  // Takes the oldest events holding at most maxLines replies, drop counts or lone stray runs,
  // each with the stray bytes that came before it. Stray bytes with nothing after them yet
  // stay: they are told with the reply that follows them, or alone once released.
  QList<LineEvent> take(qsizetype maxLines);

  // No reply has followed the latest stray bytes for a while: they become a line of their own
  // (LoneStray), shown like a reply, or are counted in a drop while the backlog is full.
  // Returns whether there were any.
  bool releaseStray();

  // The port has closed: no reply of that line can follow the latest stray bytes any more.
  // They are taken out and returned, to be named where the closing is told.
  std::optional<LineEvent> lineClosed();

  // A reply, a drop count or a lone stray run waits to be shown.
  bool hasWaiting() const { return waitingLines_ > 0; }
  qsizetype repliesWaiting() const { return replies_; }
  qsizetype strayLinesWaiting() const { return strayLines_; }
  // The lines waiting up to and with the last reply or lone stray run, the lines a box says
  // follow, and the drop counts between them.
  qsizetype linesThroughLastCounted() const;

private:
  bool full() const { return replies_ + strayLines_ >= capacity_; }
  LineEvent &trailing(LineEvent::Kind kind);

  qsizetype capacity_;
  QList<LineEvent> events_;
  qsizetype replies_ = 0;
  qsizetype strayLines_ = 0;
  qsizetype waitingLines_ = 0;
};
