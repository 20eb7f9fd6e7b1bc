#pragma once

#include "serial/systemline.h"

#include <QObject>

class QSocketNotifier;

// Tells when the device behind an open port hangs up (a USB adapter pulled, the other side of a
// pseudo-terminal closed), whether or not the Qt in use reports it: Qt 6.4 raises a read error
// for a hung-up terminal, Qt 6.8 reads nothing and stays silent. The watch waits on the
// descriptor like Qt does, costs nothing while the line is quiet, and goes quiet itself after
// the one report. On Windows a removed device shows up as an error of the port instead.
class HangUpWatch : public QObject {
  Q_OBJECT

public:
  explicit HangUpWatch(QObject *parent = nullptr) : QObject(parent) {}
  ~HangUpWatch() override { stop(); }

  void start(SerialHandle handle);
  void stop();

signals:
  void hungUp();

private:
  void check();

  QSocketNotifier *notifier_ = nullptr;
  int descriptor_ = -1;
};
