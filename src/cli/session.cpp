#include "cli/session.h"

#include "cli/events.h"
#include "device/replytext.h"
#include "serial/openport.h"

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
  connect(&port_, &SerialPort::StrayDropped, this, [this](const QByteArray &bytes) {
    if (stage_ != Stage::Done)
      events_.stray(bytes);
  });
  connect(&port_, &SerialPort::EarlierReply, this, [this](const QByteArray &block) {
    if (stage_ != Stage::Done)
      events_.earlier(block);
  });
  connect(&port_, &SerialPort::Failed, this, &Session::lost);
}

void Session::start() {
  try {
    frame_ = commandFrame(request_);
  } catch (const Failure &failure) {
    return fail(failure, ExitStatus::InputRefused);
  }
  try {
    openRequestedPort(port_, request_);
  } catch (const Failure &failure) {
    return fail(failure, ExitStatus::PortNotOpened);
  }
  try {
    port_.Output(frame_);
  } catch (const Failure &failure) {
    // Only a line that cannot take the frame refuses it here; that is a fault of the line.
    return fail(failure, ExitStatus::DeviceLost);
  }
  // A line that failed meanwhile has closed the port and been told, after any reply that came
  // before the failure. "Sent" is said only once the frame has left whole, also when no reply is
  // awaited.
  const bool left = port_.waitUntilSent();
  if (stage_ == Stage::Done)
    return;
  if (!left)
    return notSent();
  tellSent();
  if (request_.waitMs == 0)
    return finish(ExitStatus::Sent);
  wait_.start(request_.waitMs);
}

void Session::tellSent() {
  if (stage_ != Stage::Sending)
    return;
  stage_ = Stage::Awaiting;
  events_.sent(request_.port, frame_);
}

void Session::receive() {
  if (stage_ == Stage::Done || port_.CommEvent() != SerialPort::comEvReceive)
    return;
  // Without --listen the first reply is the answer and the run ends with it. A second block
  // that arrived in the same read is not told either, so that what is printed does not hang
  // on how the bytes happened to be read.
  if (!request_.listen && replies_ > 0)
    return;
  // The frame has left: the device has answered it. (A reply can come in while the frame is still
  // being seen off, when the line fails right after it.)
  tellSent();
  ++replies_;
  events_.reply(port_.Input());
  // Ended from the event loop, not from inside the port's read notification.
  if (!request_.listen)
    QMetaObject::invokeMethod(
        this, [this] { finish(ExitStatus::Sent); }, Qt::QueuedConnection);
}

// The reply came before the loss: the run did what it was asked to do, and says what followed.
// Listening is cut short by a loss, whatever came before it.
void Session::lost(const Failure &failure) {
  fail(failure, replies_ > 0 && !request_.listen ? ExitStatus::Sent : ExitStatus::DeviceLost);
}

void Session::stop(int signal) {
  if (stage_ == Stage::Done)
    return;
  events_.stopped(signal, ExitStatus::StoppedBySignal + signal);
  finish(ExitStatus::StoppedBySignal + signal);
}

void Session::notSent() {
  if (stage_ == Stage::Done)
    return;
  events_.notSent(port_.discardUnsent(), ExitStatus::FrameNotSent);
  finish(ExitStatus::FrameNotSent);
}

void Session::fail(const Failure &failure, int status) {
  if (stage_ == Stage::Done)
    return;
  events_.failure(failure, status);
  finish(status);
}

void Session::finish(int status) {
  if (stage_ == Stage::Done)
    return;
  stage_ = Stage::Done;
  wait_.stop();
  if (status == ExitStatus::NoReply)
    events_.noReply(request_.waitMs);
  port_.closeWhenSent();
  emit finished(status);
}
