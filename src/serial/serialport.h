#pragma once

#include "device/failure.h"
#include "serial/linesettings.h"

#include <QObject>
#include <QSerialPort>
#include <functional>
#include <optional>

// The program's one serial port, with the operations its logic relies on under their
// familiar names. Operations that fail raise a Failure; a fault of the line while the port is
// open (device unplugged, cable cut) closes the port and is reported once through Failed.
class SerialPort : public QObject {
  Q_OBJECT

public:
  static constexpr int comEvReceive = 2;
  static constexpr int comInputModeBinary = 1;

  // Maps a COM number to the device it stands for; empty when there is none.
  using DeviceResolver = std::function<QString(int comNumber)>;

  explicit SerialPort(QObject *parent = nullptr);

  // Tests put a pseudo-terminal behind a COM number with this; without it the system's
  // devices are used.
  void setDeviceResolver(DeviceResolver resolver);
  // The devices behind COM1 to COM<count>, an empty string where there is none.
  QStringList devicesForComNumbers(int count) const;

  int CommPort() const { return commPort_; }
  void setCommPort(int comNumber);

  QString Settings() const { return settings_; }
  // Raises InvalidPropertyValue for a malformed string and keeps the settings in force.
  void setSettings(const QString &settings);

  bool PortOpen() const { return port_.isOpen(); }
  // Opening raises InvalidPortNumber, PortAlreadyOpen, PermissionDenied or CannotSetCommState.
  void setPortOpen(bool open);

  qint64 InBufferCount() const;
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

  int SThreshold() const { return 0; }
  // This port raises no send events, so 0 is the only value it takes.
  void setSThreshold(int count);

  // Sends the bytes unchanged and at once. Raises PortNotOpen on a closed port.
  void Output(const QByteArray &bytes);

  // Takes the waiting bytes, at most RThreshold of them when a threshold is set, so that one
  // read takes one reply block and what stays waiting raises the next receive event.
  QByteArray Input();

  int CommEvent() const { return commEvent_; }

signals:
  void OnComm();
  void Failed(const Failure &failure);

private:
  void raiseReceiveEvents();
  void closeOnLineFault(QSerialPort::SerialPortError error);
  void open();
  QString comName() const;

  QSerialPort port_;
  std::optional<DeviceResolver> resolver_;
  QString device_;
  int commPort_ = 1;
  QString settings_ = QStringLiteral("9600,n,8,1");
  int rThreshold_ = 0;
  int commEvent_ = 0;
};
