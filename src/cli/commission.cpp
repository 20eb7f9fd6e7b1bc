#include "cli/commission.h"

#include "cli/events.h"
#include "cli/session.h"
#include "device/replytext.h"
#include "device/replywait.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <utility>

Commission::Commission(const Request &request, EventWriter &events, SerialPort &port, int input,
                       QObject *parent)
    : QObject(parent), request_(request), events_(events), port_(port),
      record_(request.record.isEmpty() ? defaultRecordPath(request.argument, request.json)
                                       : request.record,
              request.json),
      input_(
          this, input, [this](const std::optional<QString> &line) { answer(line); },
          [this] { pressIgnored(); }) {
  timer_.setSingleShot(true);
  // A coarse timer may end a wait of 2 s up to 100 ms early.
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &Commission::timerOver);
  connect(&port_, &SerialPort::OnComm, this, &Commission::receive);
  connect(&port_, &SerialPort::StrayDropped, this, &Commission::strayDropped);
  connect(&port_, &SerialPort::EarlierReply, this, &Commission::earlierReply);
  connect(&port_, &SerialPort::Failed, this, &Commission::lineFault);
}

// Why the plan, or the record it is to go on with, refuses the run; empty when nothing does.
QString Commission::readPlanAndRecord() {
  plan_ = readPlan(request_.argument, request_.allowRepeats, request_.encoding);
  if (!plan_.problems.isEmpty())
    return plan_.problems.join(QLatin1Char('\n'));
  if (!request_.resume) {
    if (QFile(record_.path()).size() > 0)
      return QStringLiteral("记录 %1 已存在：用 --resume 继续，或用 --record 另选文件。"
                            "The record %1 exists: go on with --resume, or choose another "
                            "with --record.")
          .arg(record_.path());
    return {};
  }
  const RecordRead read = readRecord(record_.path(), plan_, request_.json);
  answered_ = read.answered;
  // The last line of an interrupted run may be cut short; it is told, and written over.
  if (read.problem.isEmpty() && !read.unfinished.isEmpty()) {
    events_.tell({{QStringLiteral("event"), QStringLiteral("unfinished-record-line")},
                  {QStringLiteral("text"), read.unfinished}},
                 QStringLiteral("记录的最后一行不完整，已删除 The record's last line was cut "
                                "short and is removed: %1")
                     .arg(read.unfinished));
    cutRecordAt_ = read.wholeBytes;
  }
  return read.problem;
}

// Why the record cannot be written; empty once it is open, its first lines on the disk.
QString Commission::openRecord() {
  if (cutRecordAt_ && !QFile::resize(record_.path(), *cutRecordAt_))
    return QStringLiteral("无法删除该行 Cannot remove that line from %1.").arg(record_.path());
  return record_.open();
}

// Nothing is sent unless the plan and the record are sound and the record takes its first
// lines: what was sent would otherwise be known nowhere.
void Commission::start() {
  if (const QString problem = readPlanAndRecord(); !problem.isEmpty()) {
    events_.failure(Failure(FailureNumber::InvalidArgument, problem), ExitStatus::InputRefused);
    return finish(ExitStatus::InputRefused);
  }
  if (const QString problem = openRecord(); !problem.isEmpty()) {
    events_.failure(Failure(FailureNumber::DeviceIo, problem), ExitStatus::OutputFailed);
    return finish(ExitStatus::OutputFailed);
  }
  try {
    openRequestedPort(port_, request_);
  } catch (const Failure &failure) {
    events_.failure(failure, ExitStatus::PortNotOpened);
    return finish(ExitStatus::PortNotOpened);
  }
  record_.setLine(request_.port, port_.Settings());
  askForDevice();
}

QList<PlanCommand> Commission::remaining(const PlanRow &row) const {
  QList<PlanCommand> commands;
  for (const PlanCommand &command : row.commands)
    if (!answered_.contains(answeredKey(row.line, command.word)))
      commands.append(command);
  return commands;
}

// The run's status is what became of the plan: a fault or silence that a later frame or device
// made good does not make it fail.
int Commission::outcome() const {
  for (const PlanRow &row : plan_.rows)
    if (!remaining(row).isEmpty())
      return ExitStatus::NotAllAnswered;
  return ExitStatus::Sent;
}

void Commission::askForDevice() {
  step_ = Step::Asking;
  // Across the operator's answer another device may be on the line: nothing it sends is taken
  // for the reply of a frame sent before.
  unanswered_.reset();
  while (row_ < plan_.rows.size() && remaining(plan_.rows[row_]).isEmpty())
    ++row_;
  if (row_ == plan_.rows.size())
    return finish(outcome());
  pressIgnoredTold_ = false;
  // Type-ahead is dropped before the prompt shows, not after: an answer given to the prompt is
  // kept whatever the moment it comes.
  input_.requestLine();
  const PlanRow &row = plan_.rows[row_];
  QStringList words;
  for (const PlanCommand &command : remaining(row))
    words.append(command.word);
  events_.tell(
      {{QStringLiteral("event"), QStringLiteral("connect")},
       {QStringLiteral("device"), row_ + 1},
       {QStringLiteral("of"), plan_.rows.size()},
       {QStringLiteral("line"), row.line},
       {QStringLiteral("address"), row.address},
       {QStringLiteral("commands"), QJsonArray::fromStringList(words)}},
      QStringLiteral("设备 %1/%2，地址 %3（待发送：%4）：连接后按回车；s 跳过，q 停止。\n"
                     "Device %1 of %2 — address %3 (to send: %5): connect it and press "
                     "Enter; s skips, q stops.")
          .arg(row_ + 1)
          .arg(plan_.rows.size())
          .arg(row.address, words.join(QStringLiteral("、")), words.join(QStringLiteral(", "))));
}

void Commission::answer(const std::optional<QString> &line) {
  if (step_ != Step::Asking)
    return;
  if (!line)
    events_.tell({{QStringLiteral("event"), QStringLiteral("input-ended")}},
                 QStringLiteral("标准输入已结束。Standard input ended."));
  const QString word = line ? line->trimmed().toLower() : QStringLiteral("q");
  if (word == QLatin1String("q"))
    return stop();
  if (word == QLatin1String("s")) {
    ++skipped_;
    if (!record(QString(), {}, {}, Outcome::skipped))
      return;
    ++row_;
    return askForDevice();
  }
  if (!word.isEmpty()) {
    events_.tell({{QStringLiteral("event"), QStringLiteral("unknown-answer")},
                  {QStringLiteral("text"), *line}},
                 QStringLiteral("“%1”：请按回车、s 或 q。Press Enter, s or q.").arg(*line));
    return askForDevice();
  }
  // A line lost with an earlier device (an adapter pulled) is opened again for this one.
  if (!port_.PortOpen()) {
    try {
      openRequestedPort(port_, request_);
    } catch (const Failure &failure) {
      events_.failure(failure, ExitStatus::PortNotOpened);
      return askForDevice();
    }
  }
  pending_ = remaining(plan_.rows[row_]);
  sendNext();
}

// Said once a prompt: a held key would otherwise fill the screen.
void Commission::pressIgnored() {
  if (step_ != Step::Asking || std::exchange(pressIgnoredTold_, true))
    return;
  events_.tell({{QStringLiteral("event"), QStringLiteral("press-ignored")}},
               QStringLiteral("回车未计入：按住或连按只算一次。请在提示出现 %1 秒后、"
                              "上一台设备的回车 %2 秒后单按一次。\n"
                              "Enter not taken: a held or repeated Enter counts once. Press it "
                              "once, %1 s or more after the prompt and %2 s after the Enter for "
                              "the device before.")
                   .arg(QString::number(LineReader::settleMs / 1000.0),
                        QString::number(LineReader::betweenDevicesMs / 1000.0)));
}

void Commission::sendNext() {
  if (pending_.isEmpty()) {
    ++row_;
    return askForDevice();
  }
  inFlight_ = pending_.takeFirst();
  const QByteArray frame = inFlight_->frame;
  step_ = Step::Leaving;
  try {
    port_.Output(frame);
  } catch (const Failure &failure) {
    return lineFault(failure);
  }
  // "Sent" is said and recorded only once the frame has left whole.
  const bool left = port_.waitUntilSent();
  // A write the line refused has closed the port and been told through lineFault.
  if (step_ != Step::Leaving)
    return;
  if (!left)
    return notSent();
  events_.sent(request_.port, frame);
  // Once the frame has left, what comes is its own reply.
  unanswered_.reset();
  if (!record(inFlight_->word, frame, {}, Outcome::sent))
    return;
  step_ = Step::AwaitingReply;
  timer_.start(request_.waitMs);
  // A reply that came while the frame was leaving was left waiting, to be recorded after it.
  if (port_.InBufferCount() >= port_.RThreshold())
    receive();
}

void Commission::receive() {
  if (step_ == Step::Done || step_ == Step::Leaving ||
      port_.CommEvent() != SerialPort::comEvReceive)
    return;
  const QByteArray block = port_.Input();
  if (block.isEmpty())
    return;
  events_.reply(block);
  if (step_ == Step::AwaitingReply) {
    const PlanCommand command = *std::exchange(inFlight_, std::nullopt);
    ++answeredCount_;
    answered_.insert(answeredKey(plan_.rows[row_].line, command.word));
    if (!record(command.word, command.frame, block, Outcome::answered))
      return;
    // The next frame goes from the event loop, not from inside the port's read notification.
    step_ = Step::Answered;
    return timer_.start(0);
  }
  if (step_ == Step::Settling && inFlight_) {
    const PlanCommand command = *std::exchange(inFlight_, std::nullopt);
    ++lateReplies_;
    if (!record(command.word, command.frame, block, Outcome::late))
      return;
  } else if (!record(QString(), {}, block, Outcome::unasked)) {
    return;
  }
  if (step_ == Step::Settling)
    timer_.start(quietAfterNoReplyMs(request_.waitMs));
}

void Commission::timerOver() {
  switch (step_) {
  case Step::AwaitingReply:
    return waitOver();
  case Step::Answered:
    return sendNext();
  case Step::Settling:
    return settled();
  default:
    return;
  }
}

void Commission::waitOver() {
  ++noReplies_;
  events_.noReply(request_.waitMs);
  if (!record(inFlight_->word, inFlight_->frame, {}, Outcome::noReply))
    return;
  step_ = Step::Settling;
  timer_.start(quietAfterNoReplyMs(request_.waitMs));
}

// Bytes still arriving (the start of a late reply) mean the line is not quiet yet.
void Commission::settled() {
  if (port_.InBufferCount() > 0)
    return timer_.start(quietAfterNoReplyMs(request_.waitMs));
  // A frame whose late reply came while settling has had its reply.
  if (inFlight_)
    unanswered_ = Unanswered{row_, *std::exchange(inFlight_, std::nullopt)};
  sendNext();
}

// A whole reply that came while the next frame was still leaving answers an earlier frame: the
// one left without its reply, late, or no frame of this run.
void Commission::earlierReply(const QByteArray &block) {
  if (step_ == Step::Done)
    return;
  events_.earlier(block);
  if (const auto before = std::exchange(unanswered_, std::nullopt)) {
    ++lateReplies_;
    record(plan_.rows[before->row], before->command.word, before->command.frame, block,
           Outcome::late);
  } else {
    record(QString(), {}, block, Outcome::unasked);
  }
}

void Commission::strayDropped(const QByteArray &bytes) {
  if (step_ == Step::Done)
    return;
  events_.stray(bytes);
  if (!record(QString(), {}, bytes, Outcome::stray))
    return;
  if (step_ == Step::Settling)
    timer_.start(quietAfterNoReplyMs(request_.waitMs));
}

// The port has closed itself; this device's remaining frames are not sent, and the next Enter
// opens the line again. A fault while the operator is being asked only waits for that answer.
void Commission::lineFault(const Failure &failure) {
  if (step_ == Step::Done)
    return;
  timer_.stop();
  events_.failure(failure, ExitStatus::DeviceLost);
  ++lineFaults_;
  const bool awaited = step_ == Step::Leaving || step_ == Step::AwaitingReply;
  const auto command = std::exchange(inFlight_, std::nullopt);
  const QString detail = failureText(failure).replace(QLatin1Char('\n'), QLatin1Char(' '));
  if (!record(awaited ? command->word : QString(), awaited ? command->frame : QByteArray(), {},
              Outcome::lineFault, detail))
    return;
  if (step_ != Step::Asking)
    nextDevice();
}

// The device has stopped reading: the frame is given up whole, and so are the device's others.
void Commission::notSent() {
  const PlanCommand command = *std::exchange(inFlight_, std::nullopt);
  const qint64 frames = port_.discardUnsent();
  events_.notSent(frames, ExitStatus::NotAllAnswered);
  ++notSent_;
  if (record(command.word, command.frame, {}, Outcome::notSent, SerialPort::notSentText(frames)))
    nextDevice();
}

// What is left of this device's frames is not sent; the operator goes on with the next device.
void Commission::nextDevice() {
  notSent_ += int(pending_.size());
  pending_.clear();
  ++row_;
  askForDevice();
}

void Commission::stop() {
  if (step_ == Step::Done)
    return;
  timer_.stop();
  if (step_ == Step::AwaitingReply &&
      !record(inFlight_->word, inFlight_->frame, {}, Outcome::stopped))
    return;
  finish(ExitStatus::StoppedByOperator);
}

// A record that cannot be written ends the run before another frame goes out: what was sent
// would otherwise be known nowhere.
bool Commission::record(const QString &command, const QByteArray &frame, const QByteArray &reply,
                        Outcome outcome, const QString &detail) {
  return record(plan_.rows[qMin(row_, plan_.rows.size() - 1)], command, frame, reply, outcome,
                detail);
}

bool Commission::record(const PlanRow &row, const QString &command, const QByteArray &frame,
                        const QByteArray &reply, Outcome outcome, const QString &detail) {
  const QString shown = reply.isEmpty() || outcome == Outcome::stray ? QString() : replyText(reply);
  const QString problem =
      record_.append({row.line, row.address, command, frame, reply, shown, outcome, detail});
  if (problem.isEmpty())
    return true;
  events_.failure(Failure(FailureNumber::DeviceIo, problem), ExitStatus::OutputFailed);
  finish(ExitStatus::OutputFailed);
  return false;
}

void Commission::finish(int status) {
  if (step_ == Step::Done)
    return;
  const bool opened = step_ != Step::Starting;
  step_ = Step::Done;
  timer_.stop();
  if (opened)
    events_.tell({{QStringLiteral("event"), QStringLiteral("summary")},
                  {QStringLiteral("status"), status},
                  {QStringLiteral("answered"), answeredCount_},
                  {QStringLiteral("no_reply"), noReplies_},
                  {QStringLiteral("late"), lateReplies_},
                  {QStringLiteral("skipped"), skipped_},
                  {QStringLiteral("line_faults"), lineFaults_},
                  {QStringLiteral("not_sent"), notSent_},
                  {QStringLiteral("record"), record_.path()}},
                 QStringLiteral("回复 %1，无回复 %2（迟到 %3），跳过设备 %4，线路故障 %5，"
                                "未发送 %6。\n"
                                "Answered %1, no reply %2 (late %3), devices skipped %4, line "
                                "faults %5, not sent %6. Record: %7")
                     .arg(answeredCount_)
                     .arg(noReplies_)
                     .arg(lateReplies_)
                     .arg(skipped_)
                     .arg(lineFaults_)
                     .arg(notSent_)
                     .arg(record_.path()));
  port_.closeWhenSent();
  emit finished(status);
}
