#include "device/backlog.h"

LineEvent &ReplyBacklog::trailing(LineEvent::Kind kind) {
  if (events_.isEmpty() || events_.constLast().kind != kind) {
    events_.append(LineEvent{kind, {}});
    waitingLines_ += kind != LineEvent::Kind::Stray;
  }
  return events_.last();
}

void ReplyBacklog::push(const QByteArray &reply) {
  if (full()) {
    ++trailing(LineEvent::Kind::Dropped).replies;
    return;
  }
  events_.append(LineEvent{LineEvent::Kind::Reply, reply});
  ++replies_;
  ++waitingLines_;
}

// Stray bytes in a row are told as one run; while the backlog is full they only add to the
// drop count, so that a noisy line cannot grow the backlog either.
void ReplyBacklog::pushStray(const QByteArray &bytes) {
  LineEvent &event = trailing(full() ? LineEvent::Kind::Dropped : LineEvent::Kind::Stray);
  event.strayBytes += bytes.size();
  if (event.kind == LineEvent::Kind::Stray)
    event.bytes.append(bytes.first(qMin(bytes.size(), strayBytesKept - event.bytes.size())));
}

QList<LineEvent> ReplyBacklog::take(qsizetype maxLines) {
  QList<LineEvent> taken;
  qsizetype lines = 0;
  while (lines < maxLines && !events_.isEmpty()) {
    if (events_.constFirst().kind == LineEvent::Kind::Stray && events_.size() == 1)
      break;
    LineEvent event = events_.takeFirst();
    if (event.kind != LineEvent::Kind::Stray) {
      ++lines;
      --waitingLines_;
    }
    replies_ -= event.kind == LineEvent::Kind::Reply;
    strayLines_ -= event.kind == LineEvent::Kind::LoneStray;
    taken.append(std::move(event));
  }
  return taken;
}

qsizetype ReplyBacklog::linesThroughLastCounted() const {
  qsizetype lines = waitingLines_;
  for (auto event = events_.crbegin(); event != events_.crend(); ++event) {
    if (event->kind == LineEvent::Kind::Reply || event->kind == LineEvent::Kind::LoneStray)
      return lines;
    lines -= event->kind != LineEvent::Kind::Stray;
  }
  return 0;
}

bool ReplyBacklog::releaseStray() {
  if (events_.isEmpty() || events_.constLast().kind != LineEvent::Kind::Stray)
    return false;
  if (full()) {
    const LineEvent stray = events_.takeLast();
    trailing(LineEvent::Kind::Dropped).strayBytes += stray.strayBytes;
    return true;
  }
  events_.last().kind = LineEvent::Kind::LoneStray;
  ++waitingLines_;
  ++strayLines_;
  return true;
}

std::optional<LineEvent> ReplyBacklog::lineClosed() {
  if (events_.isEmpty() || events_.constLast().kind != LineEvent::Kind::Stray)
    return std::nullopt;
  return events_.takeLast();
}
