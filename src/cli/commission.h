#pragma once

#include "cli/arguments.h"
#include "cli/linereader.h"
#include "cli/plan.h"
#include "cli/record.h"
#include "serial/serialport.h"

#include <QObject>
#include <QTimer>

class EventWriter;

// Sets up the devices of a plan one after another on one port: the operator connects each and
// confirms, its frames go out in the plan's order, each waiting for its reply, and every frame
// and reply goes into the record before the next frame leaves.
class Commission : public QObject {
  Q_OBJECT

public:
  Commission(const Request &request, EventWriter &events, QObject *parent = nullptr);

  // Reads and checks the plan and the record, opens the port and asks for the first device;
  // finished follows once, with the exit status. Call it from the event loop.
  void start();
  // Ends the run between frames: a frame that has gone out is left to leave whole, and the
  // port is closed, which puts back the line settings found at opening.
  void stop();

signals:
  void finished(int status);

private:
  bool prepare();
  void askForDevice();
  void answer(const std::optional<QString> &line);
  void sendNext();
  void receive();
  void waitOver();
  void lineFault(const Failure &failure);
  void notSent();
  void nextDevice();
  bool record(const QString &command, const QByteArray &frame, const QByteArray &reply,
              Outcome outcome, const QString &detail = {});
  QList<PlanCommand> remaining(const PlanRow &row) const;
  void finish(int status);

  Request request_;
  EventWriter &events_;
  Plan plan_;
  RecordFile record_;
  QSet<QString> answered_;
  SerialPort port_;
  QTimer wait_;
  LineReader input_;
  qsizetype row_ = 0;
  QList<PlanCommand> pending_;
  std::optional<PlanCommand> inFlight_;
  int answeredCount_ = 0;
  int noReplies_ = 0;
  int lineFaults_ = 0;
  int skipped_ = 0;
  int notSent_ = 0;
  bool opened_ = false;
  bool sending_ = false; // between the operator's Enter and the device's last frame
  bool leaving_ = false; // while a frame is handed to the port and waited on to leave
  bool done_ = false;
};
