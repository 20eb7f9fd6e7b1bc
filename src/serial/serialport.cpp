#include "serial/serialport.h"

#include "serial/devicemap.h"
#include "serial/openfailure.h"
#include "serial/systemline.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QSignalBlocker>
#include <QThread>
#include <utility>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

bool mayReadAndWrite(const QString &device) {
#ifdef Q_OS_UNIX
  return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
#else
  Q_UNUSED(device);
  return true;
#endif
}

QSerialPort::Parity parityFor(char letter) {
  switch (letter) {
  case 'o':
    return QSerialPort::OddParity;
  case 'e':
    return QSerialPort::EvenParity;
  case 'm':
    return QSerialPort::MarkParity;
  case 's':
    return QSerialPort::SpaceParity;
  default:
    return QSerialPort::NoParity;
  }
}

QSerialPort::StopBits stopBitsFor(StopBits stopBits) {
  switch (stopBits) {
  case StopBits::OneAndHalf:
    return QSerialPort::OneAndHalfStop;
  case StopBits::Two:
    return QSerialPort::TwoStop;
  case StopBits::One:
    break;
  }
  return QSerialPort::OneStop;
}

// Frames move on, and the pending close is looked after, at this pace while any are on their way.
constexpr int pollMs = 5;

void requireZero(int value, const QString &property) {
  if (value != 0)
    throw Failure(FailureNumber::InvalidPropertyValue,
                  QStringLiteral("%1 = %2").arg(property).arg(value));
}

} // namespace

// How long frames may take to leave: the line time of what waits when the wait begins, plus a
// margin, and no more than stalledMs in which none of it leaves (the device has stopped reading).
// Counted in the polls' own time as well as on the clock: a program the system stopped for a
// while (a busy machine) must not take that pause for a device that stopped reading, or for a
// transmitter that never empties.
class LeaveWatch {
public:
  LeaveWatch(qint64 waitingBytes, qint64 characterMicros, qint64 notLeftSoFar = 0,
             qint64 leavingTold = -1)
      : notLeft(notLeftSoFar), toldLeaving(leavingTold),
        limitMs_(waitingBytes * characterMicros / 1000 + marginMs),
        deadline_(limitMs_, Qt::PreciseTimer), waiting_(waitingBytes) {}

  // Called after each poll of polledMs with what waits now.
  bool givesUp(qint64 waitingBytes, int polledMs) {
    constexpr int stalledMs = 250;
    polledMs_ += polledMs;
    stalledMs_ = waitingBytes == 0 || waitingBytes < waiting_ ? 0 : stalledMs_ + polledMs;
    waiting_ = waitingBytes;
    return (deadline_.hasExpired() && polledMs_ >= limitMs_) || stalledMs_ >= stalledMs;
  }

  // After giving up, what is left (the head of a frame in the transmitter) gets a wait of its own.
  void giveUpOnce(qint64 waitingBytes, qint64 characterMicros) {
    *this = LeaveWatch(waitingBytes, characterMicros, notLeft, toldLeaving);
    gaveUp = true;
  }

  // Frames given up while the close waited, and the count of frames leaving last told.
  qint64 notLeft = 0;
  qint64 toldLeaving = -1;
  bool gaveUp = false;

  // The allowance beyond the line time: a busy machine, a USB adapter's latency timer.
  static constexpr int marginMs = 500;

private:
  qint64 limitMs_;
  QDeadlineTimer deadline_;
  qint64 waiting_;
  qint64 polledMs_ = 0;
  int stalledMs_ = 0;
};

SerialPort::SerialPort(QObject *parent) : QObject(parent), port_(this), hangUpWatch_(this) {
  outputTimer_.setInterval(pollMs);
  outputTimer_.setTimerType(Qt::PreciseTimer);
  connect(&outputTimer_, &QTimer::timeout, this, &SerialPort::outputTick);
  strayTimer_.setSingleShot(true);
  connect(&strayTimer_, &QTimer::timeout, this, &SerialPort::dropStrayBytes);
  connect(&port_, &QSerialPort::readyRead, this, &SerialPort::raiseReceiveEvents);
  connect(&port_, &QSerialPort::errorOccurred, this, &SerialPort::handleError);
  connect(&hangUpWatch_, &HangUpWatch::hungUp, this, [this] {
    if (port_.isOpen())
      closeOnLineFault(true);
  });
}

SerialPort::~SerialPort() {
  const QSignalBlocker nobodyToTell(this);
  if (port_.isOpen())
    closeWhenSent();
}

void SerialPort::setDeviceResolver(DeviceResolver resolver) { resolver_ = std::move(resolver); }

QList<ComDevice> SerialPort::comDevices(int count) const {
  if (!resolver_)
    return systemComDevices(count);
  QList<ComDevice> devices;
  for (int n = 1; n <= count; ++n) {
    const QString device = (*resolver_)(n);
    devices.append({device, {}, !device.isEmpty()});
  }
  return devices;
}

void SerialPort::setCommPort(int comNumber) {
  if (comNumber < 1)
    throw Failure(FailureNumber::InvalidPortNumber, QStringLiteral("COM%1").arg(comNumber));
  commPort_ = comNumber;
}

void SerialPort::setSettings(const QString &settings) {
  if (!parseLineSettings(settings))
    throw Failure(FailureNumber::InvalidPropertyValue, QStringLiteral("“%1”").arg(settings));
  settings_ = settings;
}

void SerialPort::setPortOpen(bool open) {
  if (open == port_.isOpen())
    return;
  if (open) {
    this->open();
    transmitterBehind_ = systemHasTransmitter(port_.handle());
    output_ = OutputState::Idle;
    hangUpWatch_.start(port_.handle());
  } else {
    closePort();
  }
  strayTimer_.stop();
}

QString SerialPort::comName() const {
  return givenDevice_.isEmpty() ? QStringLiteral("COM%1").arg(commPort_) : givenDevice_;
}

QString SerialPort::tried() const { return portTried(comName(), device_); }

void SerialPort::open() {
  device_ =
      givenDevice_.isEmpty() ? comDevices(commPort_).value(commPort_ - 1).device : givenDevice_;
  if (device_.isEmpty())
    throw Failure(FailureNumber::InvalidPortNumber,
                  QStringLiteral("%1：没有对应的串口设备 no serial device is present at this "
                                 "position")
                      .arg(comName()));
  const LineSettings line = *parseLineSettings(settings_);
  port_.setPortName(device_);
  port_.setBaudRate(line.rate);
  port_.setParity(parityFor(line.parity));
  port_.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits));
  port_.setStopBits(stopBitsFor(line.stopBits));
  strayTimer_.setInterval(strayGapMs(line));
  const ExclusiveCheck exclusive(device_);
  if (exclusive.heldByAnother())
    throw openFailure(QSerialPort::OpenError, comName(), device_, true, {});
  if (!port_.open(QIODevice::ReadWrite))
    throw openFailure(port_.error(), comName(), device_, mayReadAndWrite(device_),
                      port_.errorString());
}

qint64 SerialPort::InBufferCount() const { return port_.bytesAvailable(); }

qint64 SerialPort::OutBufferCount() const {
  qint64 bytes = 0;
  for (const QByteArray &frame : waiting_)
    bytes += frame.size();
  return bytes + bytesInDriver();
}

qint64 SerialPort::bytesInDriver() const {
  if (!port_.isOpen())
    return 0;
#ifdef Q_OS_WIN
  // Qt counts the bytes of its pending write until it completes, and the driver counts them too.
  return qMax(port_.bytesToWrite(), systemOutputQueued(port_.handle()));
#else
  return port_.bytesToWrite() + systemOutputQueued(port_.handle());
#endif
}

qint64 SerialPort::bytesLeaving() const {
  qint64 bytes = 0;
  for (const QList<QByteArray> *frames : {&waiting_, &inLine_})
    for (const QByteArray &frame : *frames)
      bytes += frame.size();
  return bytes;
}

// The newest frames handed over are the ones the driver may still hold, in part or whole.
qint64 SerialPort::framesInDriver() const {
  qint64 bytes = bytesInDriver();
  qint64 frames = 0;
  for (auto frame = inLine_.crbegin(); bytes > 0 && frame != inLine_.crend(); ++frame, ++frames)
    bytes -= frame->size();
  return frames;
}

qint64 SerialPort::characterTime() const {
  return characterMicros(parseLineSettings(settings_).value_or(LineSettings{}));
}

void SerialPort::setInBufferCount(int count) {
  requireZero(count, QStringLiteral("InBufferCount"));
  port_.clear(QSerialPort::Input);
  earlier_ = 0;
}

void SerialPort::setOutBufferCount(int count) {
  requireZero(count, QStringLiteral("OutBufferCount"));
  // This program's frames only. What an earlier program handed the system whole is that
  // program's, reported sent; flushing it at opening would lose it, and on a terminal whose
  // reader holds the head of a frame already, cut that frame in two.
  discardUnsent();
}

void SerialPort::setInputMode(int mode) {
  if (mode != comInputModeBinary)
    throw Failure(FailureNumber::InvalidPropertyValue, QStringLiteral("InputMode = %1").arg(mode));
}

void SerialPort::setRThreshold(int count) {
  if (count < 0)
    throw Failure(FailureNumber::InvalidPropertyValue,
                  QStringLiteral("RThreshold = %1").arg(count));
  rThreshold_ = count;
}

void SerialPort::setSThreshold(int count) { requireZero(count, QStringLiteral("SThreshold")); }

void SerialPort::Output(const QByteArray &bytes) {
  if (!port_.isOpen() || pendingClose_)
    throw Failure(FailureNumber::PortNotOpen);
  if (const qint64 waiting = OutBufferCount(); waiting > outputBound)
    throw Failure(FailureNumber::TransmitBufferFull,
                  QStringLiteral("%1：线路忙，%2 字节尚待发送，本帧未发送。\n"
                                 "The line is busy: %2 bytes still wait to be sent; this frame "
                                 "was not sent.")
                      .arg(tried(), QString::number(waiting)));
  waiting_.append(bytes);
  moveOutput();
}

// Frames go out one at a time: a frame is handed over only once the one before has been seen to
// leave (the transmitter empty) and told through FrameLeft. FrameLeft, "sent" and the moment the
// port may close are then known without guessing at the size of a UART's buffer, and whoever
// writes down each frame as it leaves has done so before the next one goes, at the cost of a
// pause of a few milliseconds between frames.
void SerialPort::moveOutput() {
  if (!port_.isOpen())
    return;
  // What arrives while a frame is still here or in the system's queue cannot answer it.
  if (frameOnItsWay())
    earlier_ = qMax(earlier_, inputHeld());
  if (output_ == OutputState::Queued && bytesInDriver() == 0) {
    qint64 bytes = 0;
    for (const QByteArray &frame : inLine_)
      bytes += frame.size();
    if (transmitterBehind_)
      transmitter_.start(port_.handle(), bytes, characterTime());
    output_ = OutputState::Transmitting;
  }
  if ((output_ == OutputState::Transmitting || output_ == OutputState::Stuck) &&
      (!transmitterBehind_ || transmitter_.state() == Transmitter::State::Empty)) {
    transmitter_.reset();
    const QList<QByteArray> left = std::exchange(inLine_, {});
    output_ = OutputState::Idle;
    // A listener may hand over a frame of its own, give up what waits or close the port.
    for (const QByteArray &frame : left)
      emit FrameLeft(frame);
  }
  if (output_ == OutputState::Idle)
    handWaitingFrames();
  const bool moving = port_.isOpen() && (output_ != OutputState::Idle || !waiting_.isEmpty());
  if (moving && !outputTimer_.isActive())
    outputTimer_.start();
  else if (!moving && !pendingClose_)
    outputTimer_.stop();
}

bool SerialPort::frameOnItsWay() const {
#ifdef Q_OS_WIN
  // Qt counts a write as pending until it has handled its completion, which can come after the
  // device's answer to it; the driver's own count is the one to go by.
  const qint64 inDriver = systemOutputQueued(port_.handle());
#else
  const qint64 inDriver = bytesInDriver();
#endif
  return !waiting_.isEmpty() || (output_ == OutputState::Queued && inDriver > 0);
}

qint64 SerialPort::inputHeld() const {
  return port_.bytesAvailable() + systemInputQueued(port_.handle());
}

// A system queue that cannot take a whole frame may take part of it (a write to a terminal is cut
// short when its buffer fills), and that head would reach the device glued to whatever frame the
// next program sends. So a frame is handed over only when the system takes it whole, one write
// per frame; until then it waits here, where it can still be given up whole.
void SerialPort::handWaitingFrames() {
  if (port_.isOpen() && !waiting_.isEmpty() && port_.bytesToWrite() == 0 &&
      systemTakesFrameWhole(port_.handle())) {
    const QByteArray frame = waiting_.takeFirst();
    inLine_.append(frame);
    // A failed write closes the port and reports itself through Failed, like every other fault
    // of the line. Flushing hands the frame over now instead of on the next turn of the event
    // loop.
    output_ = OutputState::Handing;
    if (port_.write(frame) == frame.size())
      port_.flush();
    if (output_ == OutputState::Handing)
      output_ = OutputState::Queued;
  }
}

void SerialPort::outputTick() {
  moveOutput();
  if (!pendingClose_)
    return;
  if (!port_.isOpen())
    return finishClose();
  if (output_ == OutputState::Idle && waiting_.isEmpty())
    return finishClose();
  if (pendingClose_->givesUp(OutBufferCount(), pollMs)) {
    // The transmitter may still hold the head of what the system had: it is let go once more,
    // for its own line time, before its frames are given up too.
    if (output_ == OutputState::Transmitting || pendingClose_->gaveUp)
      output_ = OutputState::Stuck;
    pendingClose_->notLeft += dropUnsent();
    if (output_ == OutputState::Idle)
      return finishClose();
    pendingClose_->giveUpOnce(bytesLeaving(), characterTime());
  }
  if (const qint64 frames = framesLeaving(); frames != pendingClose_->toldLeaving) {
    pendingClose_->toldLeaving = frames;
    emit Leaving(frames);
  }
}

void SerialPort::closeWhenLeft() {
  if (!port_.isOpen()) {
    QMetaObject::invokeMethod(
        this, [this] { emit Closed(0); }, Qt::QueuedConnection);
    return;
  }
  if (!pendingClose_)
    pendingClose_ = std::make_unique<LeaveWatch>(bytesLeaving(), characterTime());
  outputTimer_.start();
  outputTick();
}

void SerialPort::finishClose() {
  const qint64 notLeft = pendingClose_ ? pendingClose_->notLeft : 0;
  pendingClose_.reset();
  outputTimer_.stop();
  setPortOpen(false);
  emit Closed(notLeft);
}

qint64 SerialPort::discardWaiting() {
  const qint64 frames = waiting_.size();
  waiting_.clear();
  return frames;
}

qint64 SerialPort::discardUnsent() {
  const qint64 frames = dropUnsent();
  if (pendingClose_)
    pendingClose_->notLeft += frames;
  return frames;
}

// What the driver still holds has not reached a device that stopped reading. Discarding it
// (tcflush(TCOFLUSH) on Linux, PurgeComm with PURGE_TXABORT | PURGE_TXCLEAR on Windows) makes
// "not sent" true and leaves nothing for the next program's frames to follow; a frame the line
// had begun to shift out did not leave whole and is counted too. A pseudo-terminal reports no
// queue: what it holds went whole, and its other side reads it when it reads again. A transmitter
// that did not empty in time holds its frames for good.
qint64 SerialPort::dropUnsent() {
  qint64 frames = waiting_.size();
  waiting_.clear();
  if (output_ == OutputState::Stuck) {
    frames += inLine_.size();
    inLine_.clear();
    transmitter_.reset();
    output_ = OutputState::Idle;
  }
  if (const qint64 inDriver = port_.isOpen() ? framesInDriver() : 0; inDriver > 0) {
    frames += inDriver;
    inLine_.resize(inLine_.size() - inDriver);
    port_.clear(QSerialPort::Output);
  }
  return frames;
}

// The close itself: nothing more is handed over, and the bytes the transmitter holds leave
// before Qt puts back the settings found at opening (at once, TCSANOW), which would garble them.
void SerialPort::closePort() {
  pendingClose_.reset();
  hangUpWatch_.stop();
  dropUnsent();
  if (output_ != OutputState::Idle)
    waitForOutput(false);
  closeDevice();
}

void SerialPort::closeDevice() {
  output_ = OutputState::Closing;
  port_.close();
  output_ = OutputState::Closed;
  outputTimer_.stop();
  transmitter_.reset();
  inLine_.clear();
  earlier_ = 0;
}

qint64 SerialPort::closeWhenSent() {
  const QSignalBlocker nothingToTellWhileClosing(this);
  waitUntilSent();
  const qint64 unsent = dropUnsent();
  pendingClose_.reset();
  setPortOpen(false);
  return unsent;
}

QString SerialPort::notSentText(qint64 frames) {
  return frames == 1 ? QStringLiteral("1 帧未发出，已丢弃。1 frame was not sent and has been "
                                      "discarded.")
                     : QStringLiteral("%1 帧未发出，已丢弃。%1 frames were not sent and have "
                                      "been discarded.")
                           .arg(frames);
}

QString SerialPort::notLeftText(qint64 frames) {
  return notSentText(frames) + QStringLiteral("\n设备停止了读取。The device has stopped reading.");
}

QString SerialPort::earlierReplyText(const QString &replyText) {
  return QStringLiteral("%1\n本帧发出前已到达，属于之前的命令。It arrived before this frame had "
                        "left: it answers an earlier command.")
      .arg(replyText);
}

bool SerialPort::waitUntilSent() {
  if (!port_.isOpen())
    return OutBufferCount() == 0;
  return waitForOutput(true);
}

bool SerialPort::waitForOutput(bool tellFault) {
  LeaveWatch watch(bytesLeaving(), characterTime());
  while (port_.isOpen()) {
    moveOutput();
    if (!port_.isOpen())
      break;
    if (output_ == OutputState::Idle && waiting_.isEmpty())
      return true;
    // Qt 6.8 says nothing of a device that hung up while frames wait; Qt on Windows raises a lost
    // device's error only once. Either way it is told by the time the wait is over.
    if (deviceHungUp(port_.handle())) {
      if (tellFault)
        closeOnLineFault(true);
      break;
    }
    const int sliceMs = output_ == OutputState::Transmitting ? 1 : pollMs;
    waitForLine(sliceMs);
    if (port_.isOpen() && watch.givesUp(OutBufferCount(), sliceMs)) {
      if (output_ == OutputState::Transmitting)
        output_ = OutputState::Stuck;
      break;
    }
  }
  return false;
}

void SerialPort::waitForLine(int ms) {
#ifdef Q_OS_WIN
  // Qt learns of finished writes and reads on Windows from a notifier, child of the port, that
  // posts itself a queued call; while one of Qt's waitFor functions runs it posts nothing, so a
  // read that finishes during such a wait (a device's quick reply) would stay unannounced until
  // the next write. Sleeping and then delivering the notifier's posted calls avoids that.
  QThread::msleep(ms);
  for (QObject *child : port_.children())
    QCoreApplication::sendPostedEvents(child, QEvent::MetaCall);
#else
  {
    const QSignalBlocker receiveEventsAfterTheWait(&port_);
    if (port_.bytesToWrite() > 0)
      port_.waitForBytesWritten(ms);
    else if (waitForInput(port_.handle(), ms))
      port_.waitForReadyRead(0);
  }
  if (port_.bytesAvailable() > 0)
    QMetaObject::invokeMethod(this, &SerialPort::raiseReceiveEvents, Qt::QueuedConnection);
  if (const auto error = port_.error(); error != QSerialPort::NoError)
    handleError(error);
#endif
}

QByteArray SerialPort::Input() {
  const QByteArray bytes = rThreshold_ > 0 ? port_.read(rThreshold_) : port_.readAll();
  earlier_ = qMax<qint64>(0, earlier_ - bytes.size());
  return bytes;
}

void SerialPort::raiseReceiveEvents() {
  if (port_.isOpen() && frameOnItsWay())
    earlier_ = qMax(earlier_, port_.bytesAvailable());
  while (port_.isOpen() && rThreshold_ > 0 && port_.bytesAvailable() >= rThreshold_) {
    if (earlier_ > 0) {
      emit EarlierReply(Input());
      continue;
    }
    const qint64 waiting = port_.bytesAvailable();
    commEvent_ = comEvReceive;
    emit OnComm();
    // A handler that takes nothing is told again only when more bytes arrive.
    if (port_.bytesAvailable() >= waiting)
      break;
  }
  // Every arrival restarts the wait for the rest of an unfinished block.
  const bool unfinished =
      port_.isOpen() && port_.bytesAvailable() > 0 && port_.bytesAvailable() < rThreshold_;
  if (unfinished)
    strayTimer_.start();
  else
    strayTimer_.stop();
}

void SerialPort::dropStrayBytes() {
  const qint64 waiting = port_.isOpen() ? port_.bytesAvailable() : 0;
  if (waiting == 0 || waiting >= rThreshold_)
    return;
  // Bytes the system holds for us mean the line has not been silent; their arrival restarts
  // the wait.
  if (systemInputPending(port_.handle())) {
    strayTimer_.start();
    return;
  }
  emit StrayDropped(Input());
}

void SerialPort::handleError(QSerialPort::SerialPortError error) {
  // Errors while opening are reported by open() itself; once the port is closed, the
  // repeated errors a vanished device can raise have nothing left to say. Qt's waits raise a
  // timeout for every poll in which the line took nothing.
  if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !port_.isOpen() ||
      output_ == OutputState::Closing)
    return;
  // A write the line could not take yet (the device reads slowly) stays in Qt's buffer and goes
  // out when the line takes it.
  const bool hungUp = deviceHungUp(port_.handle());
  const bool writing = output_ == OutputState::Handing || output_ == OutputState::Queued;
  if (writing && error == QSerialPort::ResourceError && !hungUp) {
    port_.clearError();
    return;
  }
  closeOnLineFault(hungUp);
}

void SerialPort::closeOnLineFault(bool hungUp) {
  const QString reason = hungUp ? QStringLiteral("设备已断开 The device was disconnected.")
                                : lineFaultReason(port_.error(), port_.errorString());
  output_ = OutputState::Closing;
  hangUpWatch_.stop();
  const qint64 unsent = dropUnsent();
  // Replies that arrived whole before the fault are the operator's, whatever happens next, also
  // those the system holds still (a device that answered and hung up at once), and the start of
  // one that the fault cut short is named rather than lost.
  for (int reads = 0; reads < 16 && systemInputPending(port_.handle()); ++reads)
    if (!port_.waitForReadyRead(0))
      break;
  raiseReceiveEvents();
  strayTimer_.stop();
  if (port_.bytesAvailable() > 0)
    emit StrayDropped(port_.readAll());
  closeDevice();
  QString text =
      QStringLiteral("%1：%2\n串口已关闭。The port has been closed.").arg(tried(), reason);
  if (unsent > 0)
    text += QLatin1Char('\n') + notSentText(unsent);
  // A close the window was waiting for is over; the frames it gave up are told here.
  const bool closeAwaited = pendingClose_ != nullptr;
  emit Failed(Failure(FailureNumber::DeviceIo, text));
  if (closeAwaited)
    finishClose();
}
