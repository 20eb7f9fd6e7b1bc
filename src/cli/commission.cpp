#include "cli/commission.h"

#include "cli/events.h"
#include "cli/session.h"

#include <QFile>
#include <QJsonObject>
#include <QScopedValueRollback>
#include <utility>

Commission::Commission(const Request &request, EventWriter &events, QObject *parent)
    : QObject(parent), request_(request), events_(events),
      record_(request.record.isEmpty() ? defaultRecordPath(request.argument, request.json)
                                       : request.record,
              request.json),
      port_(this), input_(this, [this](const std::optional<QString> &line) { answer(line); }) {
  wait_.setSingleShot(true);
  connect(&wait_, &QTimer::timeout, this, &Commission::waitOver);
  connect(&port_, &SerialPort::OnComm, this, &Commission::receive);
  const auto stray = [this](const QByteArray &bytes) {
    if (done_)
      return;
    events_.stray(bytes);
    record(QString(), {}, bytes, Outcome::stray);
  };
  connect(&port_, &SerialPort::StrayDropped, this, stray);
  // A reply that came while the next frame was leaving answers an earlier frame.
  connect(&port_, &SerialPort::EarlierReply, this, stray);
  connect(&port_, &SerialPort::Failed, this, &Commission::lineFault);
}

// Everything that can refuse the run does so before the port is opened: nothing is sent for a
// plan with a bad row, or for a record that is not this plan's.
bool Commission::prepare() {
  plan_ = readPlan(request_.argument, request_.allowRepeats);
  QString problem = plan_.problems.join(QLatin1Char('\n'));
  if (problem.isEmpty() && QFile(record_.path()).size() > 0 && !request_.resume)
    problem = QStringLiteral("记录 %1 已存在：用 --resume 继续，或用 --record 另选文件。"
                             "The record %1 exists: go on with --resume, or choose another "
                             "with --record.")
                  .arg(record_.path());
  if (problem.isEmpty() && request_.resume) {
    const RecordRead read = readRecord(record_.path(), plan_, request_.json);
    problem = read.problem;
    answered_ = read.answered;
    // The last line of an interrupted run may be cut short; it is told, and written over.
    if (problem.isEmpty() && !read.unfinished.isEmpty()) {
      events_.tell({{QStringLiteral("event"), QStringLiteral("unfinished-record-line")},
                    {QStringLiteral("text"), read.unfinished}},
                   QStringLiteral("记录的最后一行不完整，已删除 The record's last line was cut "
                                  "short and is removed: %1")
                       .arg(read.unfinished));
      if (!QFile::resize(record_.path(), read.wholeBytes))
        problem =
            QStringLiteral("无法删除该行 Cannot remove that line from %1.").arg(record_.path());
    }
  }
  if (problem.isEmpty())
    problem = record_.open();
  if (problem.isEmpty())
    return true;
  events_.failure(Failure(FailureNumber::InvalidArgument, problem), ExitStatus::InputRefused);
  finish(ExitStatus::InputRefused);
  return false;
}

void Commission::start() {
  if (!prepare())
    return;
  try {
    openRequestedPort(port_, request_);
  } catch (const Failure &failure) {
    events_.failure(failure, ExitStatus::PortNotOpened);
    return finish(ExitStatus::PortNotOpened);
  }
  opened_ = true;
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

void Commission::askForDevice() {
  while (row_ < plan_.rows.size() && remaining(plan_.rows[row_]).isEmpty())
    ++row_;
  if (row_ == plan_.rows.size())
    return finish(noReplies_ + lineFaults_ + skipped_ + notSent_ > 0 ? ExitStatus::NotAllAnswered
                                                                     : ExitStatus::Sent);
  const PlanRow &row = plan_.rows[row_];
  events_.tell({{QStringLiteral("event"), QStringLiteral("connect")},
                {QStringLiteral("device"), row_ + 1},
                {QStringLiteral("of"), plan_.rows.size()},
                {QStringLiteral("line"), row.line},
                {QStringLiteral("address"), row.address}},
               QStringLiteral("设备 %1/%2，地址 %3：连接后按回车；s 跳过，q 停止。\n"
                              "Device %1 of %2 — address %3: connect it and press Enter; "
                              "s skips, q stops.")
                   .arg(row_ + 1)
                   .arg(plan_.rows.size())
                   .arg(row.address));
  input_.requestLine();
}

void Commission::answer(const std::optional<QString> &line) {
  if (done_)
    return;
  if (!line)
    events_.tell({{QStringLiteral("event"), QStringLiteral("input-ended")}},
                 QStringLiteral("标准输入已结束。Standard input ended."));
  const QString word = line ? line->trimmed().toLower() : QStringLiteral("q");
  if (word == QLatin1String("q"))
    return stop();
  const PlanRow &row = plan_.rows[row_];
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
  pending_ = remaining(row);
  sending_ = true;
  sendNext();
}

void Commission::sendNext() {
  if (done_)
    return;
  if (pending_.isEmpty()) {
    sending_ = false;
    ++row_;
    return askForDevice();
  }
  inFlight_ = pending_.takeFirst();
  const QByteArray frame = inFlight_->frame;
  bool left = false;
  {
    const QScopedValueRollback leaving(leaving_, true);
    try {
      port_.Output(frame);
    } catch (const Failure &failure) {
      return lineFault(failure);
    }
    // "Sent" is said and recorded only once the frame has left whole.
    left = port_.waitUntilSent();
  }
  // A write the line refused has closed the port and been told through lineFault.
  if (!inFlight_)
    return;
  if (!left)
    return notSent();
  events_.sent(request_.port, frame);
  if (record(inFlight_->word, frame, {}, Outcome::sent))
    wait_.start(request_.waitMs);
}

void Commission::receive() {
  if (done_ || port_.CommEvent() != SerialPort::comEvReceive)
    return;
  // A reply that comes while its frame is still leaving is taken once the frame is recorded as
  // sent, so that the record keeps their order.
  if (leaving_) {
    QMetaObject::invokeMethod(this, &Commission::receive, Qt::QueuedConnection);
    return;
  }
  const QByteArray block = port_.Input();
  if (block.isEmpty())
    return;
  events_.reply(block);
  if (!inFlight_) {
    record(QString(), {}, block, Outcome::unasked);
    return;
  }
  wait_.stop();
  const PlanCommand command = *std::exchange(inFlight_, std::nullopt);
  ++answeredCount_;
  if (record(command.word, command.frame, block, Outcome::answered))
    // From the event loop, not from inside the port's read notification.
    QMetaObject::invokeMethod(this, &Commission::sendNext, Qt::QueuedConnection);
}

void Commission::waitOver() {
  if (done_ || !inFlight_)
    return;
  const PlanCommand command = *std::exchange(inFlight_, std::nullopt);
  ++noReplies_;
  events_.noReply(request_.waitMs);
  if (record(command.word, command.frame, {}, Outcome::noReply))
    sendNext();
}

// The port has closed itself; this device's remaining frames are not sent, and the next Enter
// opens the line again. A fault while the operator is being asked only waits for that answer.
void Commission::lineFault(const Failure &failure) {
  if (done_)
    return;
  wait_.stop();
  events_.failure(failure, ExitStatus::DeviceLost);
  ++lineFaults_;
  const auto command = std::exchange(inFlight_, std::nullopt);
  const QString detail = failureText(failure).replace(QLatin1Char('\n'), QLatin1Char(' '));
  if (!record(command ? command->word : QString(), command ? command->frame : QByteArray(), {},
              Outcome::lineFault, detail))
    return;
  if (sending_)
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
  sending_ = false;
  notSent_ += int(pending_.size());
  pending_.clear();
  ++row_;
  askForDevice();
}

void Commission::stop() {
  if (done_)
    return;
  wait_.stop();
  if (const auto command = std::exchange(inFlight_, std::nullopt))
    if (!record(command->word, command->frame, {}, Outcome::stopped))
      return;
  finish(ExitStatus::StoppedByOperator);
}

// A record that cannot be written ends the run before another frame goes out: what was sent
// would otherwise be known nowhere.
bool Commission::record(const QString &command, const QByteArray &frame, const QByteArray &reply,
                        const QString &outcome, const QString &detail) {
  const PlanRow &row = plan_.rows[qMin(row_, plan_.rows.size() - 1)];
  const QString problem =
      record_.append({row.line, row.address, command, frame, reply, outcome, detail});
  if (problem.isEmpty())
    return true;
  events_.failure(Failure(FailureNumber::DeviceIo, problem), ExitStatus::OutputFailed);
  finish(ExitStatus::OutputFailed);
  return false;
}

void Commission::finish(int status) {
  if (done_)
    return;
  done_ = true;
  wait_.stop();
  if (opened_)
    events_.tell({{QStringLiteral("event"), QStringLiteral("summary")},
                  {QStringLiteral("status"), status},
                  {QStringLiteral("answered"), answeredCount_},
                  {QStringLiteral("no_reply"), noReplies_},
                  {QStringLiteral("skipped"), skipped_},
                  {QStringLiteral("line_faults"), lineFaults_},
                  {QStringLiteral("not_sent"), notSent_},
                  {QStringLiteral("record"), record_.path()}},
                 QStringLiteral("回复 %1，无回复 %2，跳过设备 %3，线路故障 %4，未发送 %5。\n"
                                "Answered %1, no reply %2, devices skipped %3, line faults %4, "
                                "not sent %5. Record: %6")
                     .arg(answeredCount_)
                     .arg(noReplies_)
                     .arg(skipped_)
                     .arg(lineFaults_)
                     .arg(notSent_)
                     .arg(record_.path()));
  port_.closeWhenSent();
  emit finished(status);
}
