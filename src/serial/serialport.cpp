#include "serial/serialport.h"

#include "serial/devicemap.h"
#include "serial/openfailure.h"
#include "serial/systemline.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QScopedValueRollback>
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

// The newest frames handed to the system are remembered by size, to tell how many of them the
// driver still holds when they must be given up. Without POLLOUT nothing more is handed over, so
// the driver never holds more than about 256 bytes of them: this covers frames of 5 bytes.
constexpr qsizetype handedKept = 128;
constexpr int sendPollMs = 5;

void requireZero(int value, const QString &property) {
  if (value != 0)
    throw Failure(FailureNumber::InvalidPropertyValue,
                  QStringLiteral("%1 = %2").arg(property).arg(value));
}

} // namespace

SerialPort::SerialPort(QObject *parent) : QObject(parent), port_(this), hangUpWatch_(this) {
  sendTimer_.setInterval(sendPollMs);
  connect(&sendTimer_, &QTimer::timeout, this, &SerialPort::sendWaitingFrames);
  strayTimer_.setSingleShot(true);
  connect(&strayTimer_, &QTimer::timeout, this, &SerialPort::dropStrayBytes);
  connect(&port_, &QSerialPort::readyRead, this, &SerialPort::raiseReceiveEvents);
  connect(&port_, &QSerialPort::errorOccurred, this, &SerialPort::handleError);
  connect(&hangUpWatch_, &HangUpWatch::hungUp, this, [this] {
    if (port_.isOpen())
      closeOnLineFault(true);
  });
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
    hangUpWatch_.start(port_.handle());
  } else {
    hangUpWatch_.stop();
    discardUnsent();
    port_.close();
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

qint64 SerialPort::framesInDriver() const {
  qint64 bytes = bytesInDriver();
  qint64 frames = 0;
  for (auto size = handed_.crbegin(); bytes > 0 && size != handed_.crend(); ++size, ++frames)
    bytes -= *size;
  return frames;
}

void SerialPort::setInBufferCount(int count) {
  requireZero(count, QStringLiteral("InBufferCount"));
  port_.clear(QSerialPort::Input);
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
  if (!port_.isOpen())
    throw Failure(FailureNumber::PortNotOpen);
  if (const qint64 waiting = OutBufferCount(); waiting > outputBound)
    throw Failure(FailureNumber::TransmitBufferFull,
                  QStringLiteral("%1：线路忙，%2 字节尚待发送，本帧未发送。\n"
                                 "The line is busy: %2 bytes still wait to be sent; this frame "
                                 "was not sent.")
                      .arg(tried(), QString::number(waiting)));
  waiting_.append(bytes);
  sendWaitingFrames();
}

// A system queue that cannot take a whole frame may take part of it (a write to a terminal is cut
// short when its buffer fills), and that head would reach the device glued to whatever frame the
// next program sends. So a frame is handed over only when the system takes it whole, one write
// per frame; until then it waits here, where it can still be given up whole.
void SerialPort::sendWaitingFrames() {
  while (port_.isOpen() && !waiting_.isEmpty() && port_.bytesToWrite() == 0 &&
         systemTakesFrameWhole(port_.handle())) {
    const QByteArray frame = waiting_.takeFirst();
    handed_.append(frame.size());
    if (handed_.size() > handedKept)
      handed_.removeFirst();
    // A failed write closes the port and reports itself through Failed, like every other fault
    // of the line. Flushing hands the frame over now instead of on the next turn of the event
    // loop.
    writing_ = true;
    if (port_.write(frame) == frame.size())
      port_.flush();
    writing_ = false;
  }
  if (port_.isOpen() && !waiting_.isEmpty())
    sendTimer_.start();
  else
    sendTimer_.stop();
}

qint64 SerialPort::discardUnsent() {
  qint64 frames = waiting_.size();
  waiting_.clear();
  sendTimer_.stop();
  // What the driver still holds has not reached a device that stopped reading. Discarding it
  // (tcflush(TCOFLUSH) on Linux, PurgeComm with PURGE_TXABORT | PURGE_TXCLEAR on Windows) makes
  // "not sent" true and leaves nothing for the next program's frames to follow; a frame the line
  // had begun to shift out did not leave whole and is counted too. A pseudo-terminal reports no
  // queue: what it holds went whole, and its other side reads it when it reads again.
  if (const qint64 inDriver = port_.isOpen() ? framesInDriver() : 0; inDriver > 0) {
    frames += inDriver;
    port_.clear(QSerialPort::Output);
  }
  handed_.clear();
  return frames;
}

qint64 SerialPort::closeWhenSent() {
  drainOutput();
  const qint64 unsent = discardUnsent();
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

bool SerialPort::waitUntilSent() {
  const bool left = drainOutput();
  // Qt on Windows raises the error of a device that went away once and then falls silent, so a
  // fault held back during the wait is told now; otherwise the program would wait for a reply
  // from a device that is gone and blame the silence.
  if (std::exchange(faultWhileDraining_, false) && port_.isOpen())
    closeOnLineFault(deviceHungUp(port_.handle()));
  return left;
}

bool SerialPort::drainOutput() {
  constexpr int marginMs = 500;
  constexpr int stalledMs = 250;
  constexpr int pollMs = 5;
  if (!port_.isOpen())
    return OutBufferCount() == 0;
  const QScopedValueRollback draining(draining_, true);
  faultWhileDraining_ = false;
  hangUpWatch_.stop();
  qint64 waiting = OutBufferCount();
  const qint64 lineMs = waiting * characterMicros(*parseLineSettings(settings_)) / 1000;
  const QDeadlineTimer deadline(lineMs + marginMs);
  // Counted in polls, not on the clock: a program the system stopped for a while (a busy
  // machine) must not take that pause for a device that stopped reading.
  int stalledPolls = 0;
  while (waiting > 0 && port_.isOpen() && !deadline.hasExpired() &&
         stalledPolls < stalledMs / pollMs) {
    // Hands waiting frames and what Qt holds to the driver; its queue drains at line pace.
    sendWaitingFrames();
    pollLine(pollMs);
    const qint64 now = OutBufferCount();
    stalledPolls = now < waiting ? 0 : stalledPolls + 1;
    waiting = now;
  }
  if (port_.isOpen())
    hangUpWatch_.start(port_.handle());
  return waiting == 0;
}

void SerialPort::pollLine(int ms) {
#ifdef Q_OS_WIN
  // Qt learns of finished writes and reads on Windows from a notifier, child of the port, that
  // posts itself a queued call; while one of Qt's waitFor functions runs it posts nothing, so a
  // read that finishes during such a wait (a device's quick reply) would stay unannounced until
  // the next write. Sleeping and then delivering the notifier's posted calls avoids that.
  QThread::msleep(ms);
  for (QObject *child : port_.children())
    QCoreApplication::sendPostedEvents(child, QEvent::MetaCall);
#else
  if (port_.bytesToWrite() == 0 || !port_.waitForBytesWritten(ms))
    QThread::msleep(ms);
#endif
}

QByteArray SerialPort::Input() {
  return rThreshold_ > 0 ? port_.read(rThreshold_) : port_.readAll();
}

void SerialPort::raiseReceiveEvents() {
  while (port_.isOpen() && rThreshold_ > 0 && port_.bytesAvailable() >= rThreshold_) {
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
  emit StrayDropped(port_.read(waiting));
}

void SerialPort::handleError(QSerialPort::SerialPortError error) {
  // Errors while opening are reported by open() itself; once the port is closed, the
  // repeated errors a vanished device can raise have nothing left to say.
  if (error == QSerialPort::NoError || !port_.isOpen() || closing_)
    return;
  // A write the line could not take yet (the device reads slowly) stays in the buffer and goes
  // out when the line takes it; a wait for it may meet the same.
  const bool hungUp = deviceHungUp(port_.handle());
  if ((writing_ || draining_) && error == QSerialPort::ResourceError && !hungUp) {
    port_.clearError();
    return;
  }
  // Qt's waits raise a timeout for every poll in which the line took nothing; any other fault is
  // told once the wait is over, not from inside it.
  if (draining_) {
    faultWhileDraining_ = faultWhileDraining_ || error != QSerialPort::TimeoutError;
    return;
  }
  closeOnLineFault(hungUp);
}

void SerialPort::closeOnLineFault(bool hungUp) {
  const QString reason = hungUp ? QStringLiteral("设备已断开 The device was disconnected.")
                                : lineFaultReason(port_.error(), port_.errorString());
  const QScopedValueRollback closing(closing_, true);
  hangUpWatch_.stop();
  const qint64 unsent = discardUnsent();
  // Replies that arrived whole before the fault are the operator's, whatever happens next, and
  // the start of one that the fault cut short is named rather than lost.
  raiseReceiveEvents();
  strayTimer_.stop();
  if (port_.bytesAvailable() > 0)
    emit StrayDropped(port_.readAll());
  port_.close();
  QString text =
      QStringLiteral("%1：%2\n串口已关闭。The port has been closed.").arg(tried(), reason);
  if (unsent > 0)
    text += QLatin1Char('\n') + notSentText(unsent);
  emit Failed(Failure(FailureNumber::DeviceIo, text));
}
