#pragma once

#include "device/failure.h"
#include "serial/devicemap.h"
#include "serial/hangupwatch.h"
#include "serial/linesettings.h"

#include <QList>
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
// take bytes right now is no fault: frames wait and go out in order, each handed to the system
// only when it takes the frame whole, so that no frame reaches the device in part.
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
  // Bytes not yet sent: the frames waiting in the program and what the driver still holds.
  qint64 OutBufferCount() const;
  // Only 0 is meaningful: it discards what is waiting (output: this program's frames).
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
  // have left, and tells whether they have; a device that takes nothing for a while has stopped
  // reading. A fault of the line met meanwhile is reported through Failed once the wait is over,
  // the port then closed.
  bool waitUntilSent();
  // Gives up the frames that have not left whole (after waitUntilSent, or before closing): they
  // are discarded, so that nothing of them reaches the device later, and counted.
  qint64 discardUnsent();
  // How both programs end a run on the port: waits for what is on its way out, gives up and
  // counts what cannot leave, and closes. Returns the frames that did not leave. A fault met
  // while closing is not reported: the port is being closed anyway.
  qint64 closeWhenSent();

  // Sends the bytes unchanged and at once. Raises PortNotOpen on a closed port, and
  // TransmitBufferFull without sending anything while more than outputBound waits.
  void Output(const QByteArray &bytes);

  // Takes the waiting bytes, at most RThreshold of them when a threshold is set, so that one
  // read takes one reply block and what stays waiting raises the next receive event.
  QByteArray Input();

  int CommEvent() const { return commEvent_; }

  // The words that tell the operator how many frames did not leave, in both programs.
  static QString notSentText(qint64 frames);
  // The same, for frames given up because the device stopped reading.
  static QString notLeftText(qint64 frames);

signals:
  void OnComm();
  void Failed(const Failure &failure);
  void StrayDropped(const QByteArray &bytes);

private:
  // The wait of waitUntilSent, with faults of the line held back for the caller.
  bool drainOutput();
  // Waits about ms for the line, handing Qt's buffer on to the system as it takes it.
  void pollLine(int ms);
  void sendWaitingFrames();
  qint64 bytesInDriver() const;
  qint64 framesInDriver() const;
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
  // Whole frames the system has not been handed yet, and the sizes of the latest it has been.
  QList<QByteArray> waiting_;
  QList<qsizetype> handed_;
  QTimer sendTimer_;
  bool writing_ = false;
  bool closing_ = false;
  bool draining_ = false;
  bool faultWhileDraining_ = false;
  std::optional<DeviceResolver> resolver_;
  QString device_;
  QString givenDevice_;
  int commPort_ = 1;
  QString settings_ = QStringLiteral("9600,n,8,1");
  int rThreshold_ = 0;
  int commEvent_ = 0;
};
