#include "device/backlog.h"

bool ReplyBacklog::push(const QByteArray &reply) {
  if (replies_.size() >= capacity_) {
    ++dropped_;
    return false;
  }
  replies_.enqueue(reply);
  return true;
}

std::optional<ReplyBacklog::Waiting> ReplyBacklog::take() {
  if (replies_.isEmpty())
    return std::nullopt;
  Waiting waiting{replies_.dequeue(), dropped_};
  dropped_ = 0;
  return waiting;
}
