#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QAbstractButton;

// What a latency and idle probe drives: the program's window, or the bare stand-in that
// gives the baseline.
class Subject {
public:
  virtual ~Subject() = default;
  // Shows the window and opens its port on the device's path at 9600 baud, no parity.
  virtual void openPort(const QString &devicePath) = 0;
  virtual bool portOpen() = 0;
  // The buttons that each send one frame; the probe clicks them in turn.
  virtual QList<QAbstractButton *> commandButtons() = 0;
};

// Runs the probe named on the command line and prints one line per sample:
//   latency N   N samples each of "send <ns>" (click to the frame's last byte readable at the
//               device) and "reply <ns>" (the device writes a reply's 12th byte to the reply's
//               message box being shown), after a few samples that warm up and are not printed;
//   idle MS     "idle <cpu ns> <context switches>" over MS milliseconds with the port open
//               and the line quiet.
// Returns the exit code: 0, or 1 with a message on standard error when something did not
// happen as it should.
int runProbe(const QStringList &arguments, Subject &subject);
