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
  // The run sends on port and reads the operator's answers from the descriptor input.
  Commission(const Request &request, EventWriter &events, SerialPort &port, int input,
             QObject *parent = nullptr);

  // Reads and checks the plan and the record, opens the port and asks for the first device;
  // finished follows once, with the exit status. Call it from the event loop.
  void start();
  // Ends the run between frames: a frame that has gone out is left to leave whole, and the
  // port is closed, which puts back the line settings found at opening.
  void stop();

signals:
  void finished(int status);

private:
  // Where the run is. The one timer runs only in the steps that wait for time, and whatever
  // leaves a step stops it, so that no step's continuation can run in another.
  enum class Step {
    Starting,      // the plan and the record are read; the port is not open yet
    Asking,        // the operator is asked to connect the device of row_
    Leaving,       // a frame is handed to the port and waited on to leave
    AwaitingReply, // the frame has left; the timer is its wait for a reply
    Answered,      // the reply came; the timer is the turn before the device's next frame
    Settling,      // no reply within the wait; the timer is the quiet the line must keep
    Done,
  };

  QString readPlanAndRecord();
  QString openRecord();
  void askForDevice();
  void answer(const std::optional<QString> &line);
  void pressIgnored();
  void sendNext();
  void receive();
  void timerOver();
  void waitOver();
  void settled();
  void strayDropped(const QByteArray &bytes);
  void lineFault(const Failure &failure);
  void notSent();
  void nextDevice();
  bool record(const QString &command, const QByteArray &frame, const QByteArray &reply,
              Outcome outcome, const QString &detail = {});
  QList<PlanCommand> remaining(const PlanRow &row) const;
  int outcome() const;
  void finish(int status);

  Request request_;
  EventWriter &events_;
  SerialPort &port_;
  Plan plan_;
  RecordFile record_;
  QSet<QString> answered_;
  std::optional<qint64> cutRecordAt_; // where an unfinished last line of the record begins
  QTimer timer_;
  LineReader input_;
  Step step_ = Step::Starting;
  qsizetype row_ = 0;
  QList<PlanCommand> pending_;
  // The frame on its way, awaited, or (while settling) the one whose reply did not come.
  std::optional<PlanCommand> inFlight_;
  bool pressIgnoredTold_ = false;
  int answeredCount_ = 0;
  int noReplies_ = 0;
  int lateReplies_ = 0;
  int lineFaults_ = 0;
  int skipped_ = 0;
  int notSent_ = 0;
};
