#include "cli/session.h"

#include "cli/events.h"
#include "device/frames.h"
#include "serial/openport.h"

QByteArray commandFrame(const Request &request) {
  switch (request.command) {
  case Command::Address:
    return addressFrame(request.argument);
  case Command::UserCode:
    return userCodeFrame(request.argument);
  case Command::PowerOnLock:
    return powerOnLockFrame();
  case Command::ResetPassword:
    return initialPasswordFrame();
  case Command::List:
  case Command::Commission:
    break;
  }
  return {};
}

void openRequestedPort(SerialPort &port, const Request &request) {
  if (request.portIsDevice)
    port.setGivenDevice(request.port);
  try {
    OpenPort(port, request.port, request.rate, request.parity);
  } catch (const Failure &) {
    port.setPortOpen(false);
    throw;
  }
}

Session::Session(const Request &request, EventWriter &events, QObject *parent)
    : QObject(parent), request_(request), events_(events), port_(this) {
  wait_.setSingleShot(true);
  // A coarse timer may end a wait of 2 s up to 100 ms early; listening lasts the whole wait.
  wait_.setTimerType(Qt::PreciseTimer);
  connect(&wait_, &QTimer::timeout, this,
          [this] { finish(replies_ > 0 ? ExitStatus::Sent : ExitStatus::NoReply); });
  connect(&port_, &SerialPort::OnComm, this, &Session::receive);
  connect(&port_, &SerialPort::StrayDropped, this,
          [this](const QByteArray &bytes) { events_.stray(bytes); });
  connect(&port_, &SerialPort::Failed, this,
          [this](const Failure &failure) { fail(failure, ExitStatus::DeviceLost); });
}

void Session::start() {
  QByteArray frame;
  try {
    frame = commandFrame(request_);
  } catch (const Failure &failure) {
    return fail(failure, ExitStatus::InputRefused);
  }
  try {
    openRequestedPort(port_, request_);
  } catch (const Failure &failure) {
    return fail(failure, ExitStatus::PortNotOpened);
  }
  try {
    port_.Output(frame);
  } catch (const Failure &failure) {
    // Only a line that cannot take the frame refuses it here; that is a fault of the line.
    return fail(failure, ExitStatus::DeviceLost);
  }
  // A write the line refused has closed the port and been reported already. "Sent" is said only
  // once the frame has left whole, also when no reply is awaited.
  const bool left = port_.waitUntilSent();
  if (done_)
    return;
  if (!left)
    return notSent();
  events_.sent(request_.port, frame);
  if (request_.waitMs == 0)
    return finish(ExitStatus::Sent);
  wait_.start(request_.waitMs);
}

void Session::receive() {
  if (done_ || port_.CommEvent() != SerialPort::comEvReceive)
    return;
  // Without --listen the first reply is the answer and the run ends with it. A second block
  // that arrived in the same read is not told either, so that what is printed does not hang
  // on how the bytes happened to be read.
  if (!request_.listen && replies_ > 0)
    return;
  ++replies_;
  events_.reply(port_.Input());
  // Ended from the event loop, not from inside the port's read notification.
  if (!request_.listen)
    QMetaObject::invokeMethod(
        this, [this] { finish(ExitStatus::Sent); }, Qt::QueuedConnection);
}

void Session::stop(int signal) {
  if (done_)
    return;
  events_.stopped(signal, ExitStatus::StoppedBySignal + signal);
  finish(ExitStatus::StoppedBySignal + signal);
}

void Session::notSent() {
  if (done_)
    return;
  events_.notSent(port_.discardUnsent(), ExitStatus::FrameNotSent);
  finish(ExitStatus::FrameNotSent);
}

void Session::fail(const Failure &failure, int status) {
  if (done_)
    return;
  events_.failure(failure, status);
  finish(status);
}

void Session::finish(int status) {
  if (done_)
    return;
  done_ = true;
  wait_.stop();
  if (status == ExitStatus::NoReply)
    events_.noReply(request_.waitMs);
  port_.closeWhenSent();
  emit finished(status);
}
