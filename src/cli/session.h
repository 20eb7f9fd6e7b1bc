#pragma once

#include "cli/arguments.h"
#include "serial/serialport.h"

#include <QObject>
#include <QTimer>

class EventWriter;

// One command sent the way the window's button sends it, then its reply: the run ends on the
// first whole reply, or when the wait is over without one. With Request::listen it ends only
// when the wait is over, having told every reply. A block that arrived while the frame was still
// leaving answers an earlier command (an earlier run's, with --wait 0): it is told as such and
// the wait goes on. A loss of the line after the reply is told, and the run still ends as sent.
class Session : public QObject {
  Q_OBJECT

public:
  Session(const Request &request, EventWriter &events, QObject *parent = nullptr);

  // Builds the frame, opens the port and sends; finished follows once, with the exit status.
  // Call it from the event loop: finished may come before start returns.
  void start();
  // A termination signal ends the run as the end of the wait would, the line restored, with
  // the status a shell gives a program the signal ended.
  void stop(int signal);

signals:
  void finished(int status);

private:
  // The run's course: the frame leaving, then the wait for its reply.
  enum class Stage { Sending, Awaiting, Done };

  void tellSent();
  void receive();
  void lost(const Failure &failure);
  void notSent();
  void fail(const Failure &failure, int status);
  void finish(int status);

  Request request_;
  EventWriter &events_;
  SerialPort port_;
  QTimer wait_;
  QByteArray frame_;
  int replies_ = 0;
  Stage stage_ = Stage::Sending;
};

// Opens the port the request names, as the window opens it; raises what opening raises, the
// port then closed.
void openRequestedPort(SerialPort &port, const Request &request);
