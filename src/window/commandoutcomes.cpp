#include "window/commandoutcomes.h"

#include "device/failure.h"
#include "device/replytext.h"
#include "device/replywait.h"

QString whileNextLeftDetail() {
  return QStringLiteral("下一帧发送时到达。It came while the next frame was leaving.");
}

QString nextLeftFirstDetail() {
  return QStringLiteral("下一帧发出前没有回复。No reply came before the next frame left.");
}

CommandOutcomes::CommandOutcomes(QObject *parent)
    : QObject(parent), waitMs_(replyWaitMs), wait_(this) {
  wait_.setObjectName(QStringLiteral("replyWait"));
  wait_.setSingleShot(true);
  // A coarse timer may end a wait of 2 s up to 100 ms early.
  wait_.setTimerType(Qt::PreciseTimer);
  wait_.setInterval(waitMs_);
  connect(&wait_, &QTimer::timeout, this, &CommandOutcomes::ReplyWait_Timer);
}

void CommandOutcomes::handed(DeviceCommand command, const QByteArray &frame) {
  const QString address =
      command == DeviceCommand::Address ? QString::fromLatin1(frame.mid(2, 2)) : QString();
  leaving_.append({commandWord(command), address, frame});
}

void CommandOutcomes::left(const QByteArray &frame) {
  const Frame sent = !leaving_.isEmpty() && leaving_.first().frame == frame
                         ? leaving_.takeFirst()
                         : Frame{QString(), QString(), frame};
  if (state_ == Last::Awaiting)
    tell(last_, Outcome::noReply, {}, nextLeftFirstDetail());
  last_ = sent;
  state_ = Last::Awaiting;
  wait_.start();
  tell(last_, Outcome::sent);
}

void CommandOutcomes::reply(const QByteArray &block, bool whileLeaving) {
  const QString detail = whileLeaving ? whileNextLeftDetail() : QString();
  if (state_ == Last::Awaiting) {
    wait_.stop();
    state_ = Last::Answered;
    tell(last_, Outcome::answered, block, detail);
  } else if (state_ == Last::Unanswered) {
    state_ = Last::Answered;
    tell(last_, Outcome::late, block, detail);
  } else {
    tell({}, Outcome::unasked, block);
  }
}

void CommandOutcomes::ReplyWait_Timer() {
  if (state_ != Last::Awaiting)
    return;
  state_ = Last::Unanswered;
  tell(last_, Outcome::noReply);
}

void CommandOutcomes::stray(const QByteArray &bytes) {
  emit happened({0, {}, {}, {}, bytes, {}, Outcome::stray, {}});
}

void CommandOutcomes::lineFault(const Failure &failure) {
  wait_.stop();
  const Frame awaited = state_ == Last::Awaiting ? last_ : Frame{};
  state_ = Last::None;
  tell(awaited, Outcome::lineFault, {},
       failureText(failure).replace(QLatin1Char('\n'), QLatin1Char(' ')));
  notSent(std::exchange(leaving_, {}));
}

void CommandOutcomes::discarded(qint64 frames) {
  const qsizetype given = qMin(qsizetype(frames), leaving_.size());
  notSent(leaving_.sliced(leaving_.size() - given));
  leaving_.resize(leaving_.size() - given);
}

void CommandOutcomes::closed() {
  wait_.stop();
  if (std::exchange(state_, Last::None) == Last::Awaiting)
    tell(last_, Outcome::stopped);
  notSent(std::exchange(leaving_, {}));
}

void CommandOutcomes::tell(const Frame &frame, Outcome outcome, const QByteArray &reply,
                           const QString &detail) {
  emit happened({0, frame.address, frame.command, frame.frame, reply,
                 reply.isEmpty() ? QString() : replyText(reply), outcome, detail});
}

void CommandOutcomes::notSent(const QList<Frame> &frames) {
  for (const Frame &frame : frames)
    tell(frame, Outcome::notSent);
}
