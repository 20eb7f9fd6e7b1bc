#pragma once

#include "device/failure.h"
#include "serial/devicemap.h"
#include "serial/hangupwatch.h"
#include "serial/linesettings.h"

#include <QObject>
#include <QSerialPort>
#include <QTimer>
#include <functional>
#include <optional>

// The program's one serial port, with the operations its logic relies on under their
// familiar names. Operations that fail raise a Failure; a fault of the line while the port is
// open (the device hung up: a USB adapter pulled, a pseudo-terminal's other side closed; or a
// write that failed) closes the port and is reported once through Failed, after the complete
// reply blocks already received. The modem lines are not watched (Qt opens the line as local),
// so a cable cut behind the adapter, or a device switched off, is only silence. A line that cannot
// take bytes right now is no fault: they wait and go out in order.
//
// A device sends a reply block back to back. Bytes short of a block that are followed by
// silence longer than strayGapMs() are stray (line noise, a boot banner): they are dropped and
// reported through StrayDropped, so that one burst of noise cannot shift every later block.
class SerialPort : public QObject {
  Q_OBJECT

public:
  static constexpr int comEvReceive = 2;
  static constexpr int comInputModeBinary = 1;
  // Output refuses a frame while more than this waits to be sent, about what a UART driver
  // buffers: a frame goes out whole or not at all, never cut short by a full line.
  static constexpr qint64 outputBound = 4096;

  // Maps a COM number to the device it stands for; empty when there is none.
  using DeviceResolver = std::function<QString(int comNumber)>;

  explicit SerialPort(QObject *parent = nullptr);

  // Tests put a pseudo-terminal behind a COM number with this; without it the system's
  // devices are used.
  void setDeviceResolver(DeviceResolver resolver);
  // The devices behind COM1 to COM<count>, from one scan of the system.
  QList<ComDevice> comDevices(int count) const;

  // A device opened as named, such as /dev/ttyUSB0 or a Windows port past COM15, in place of
  // the device behind the COM number.
  void setGivenDevice(const QString &device) { givenDevice_ = device; }

  int CommPort() const { return commPort_; }
  void setCommPort(int comNumber);

  QString Settings() const { return settings_; }
  // Raises InvalidPropertyValue for a malformed string and keeps the settings in force.
  void setSettings(const QString &settings);

  bool PortOpen() const { return port_.isOpen(); }
  // Opening raises InvalidPortNumber, PortAlreadyOpen, PermissionDenied or CannotSetCommState.
  void setPortOpen(bool open);

  qint64 InBufferCount() const;
  // Bytes not yet sent: those in the program's buffer and those the driver still holds.
  qint64 OutBufferCount() const;
  // Only 0 is meaningful: it discards what is waiting.
  void setInBufferCount(int count);
  void setOutBufferCount(int count);

  int InputMode() const { return comInputModeBinary; }
  // Reads always deliver bytes; any other mode is an InvalidPropertyValue.
  void setInputMode(int mode);

  int RThreshold() const { return rThreshold_; }
  // A receive event is raised while at least this many bytes wait; 0 raises none.
  void setRThreshold(int count);

  // The silence that ends a run of stray bytes, strayGapMs() of the line from each opening on.
  // Tests set it to drive that silence themselves instead of sleeping through it.
  void setStrayGapMs(int ms) { strayTimer_.setInterval(ms); }

  int SThreshold() const { return 0; }
  // This port raises no send events, so 0 is the only value it takes.
  void setSThreshold(int count);

  // Closing puts back at once the line settings found at opening, which would garble bytes still
  // on their way out. This waits, at most the line time of what waits plus a margin, until they
  // have left; a device that takes nothing for a while has stopped reading, and the rest is
  // given up without a word. Faults met meanwhile are not reported: the port is closing.
  void waitUntilSent();

  // Sends the bytes unchanged and at once. Raises PortNotOpen on a closed port, and
  // TransmitBufferFull without sending anything while more than outputBound waits.
  void Output(const QByteArray &bytes);

  // Takes the waiting bytes, at most RThreshold of them when a threshold is set, so that one
  // read takes one reply block and what stays waiting raises the next receive event.
  QByteArray Input();

  int CommEvent() const { return commEvent_; }

signals:
  void OnComm();
  void Failed(const Failure &failure);
  void StrayDropped(const QByteArray &bytes);

private:
  void raiseReceiveEvents();
  void dropStrayBytes();
  void handleError(QSerialPort::SerialPortError error);
  void closeOnLineFault(bool hungUp);
  void open();
  QString comName() const;
  QString tried() const;

  QSerialPort port_;
  HangUpWatch hangUpWatch_;
  QTimer strayTimer_;
  bool writing_ = false;
  bool closing_ = false;
  std::optional<DeviceResolver> resolver_;
  QString device_;
  QString givenDevice_;
  int commPort_ = 1;
  QString settings_ = QStringLiteral("9600,n,8,1");
  int rThreshold_ = 0;
  int commEvent_ = 0;
};
