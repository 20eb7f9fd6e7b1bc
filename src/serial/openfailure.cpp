#include "serial/openfailure.h"

QString portTried(const QString &comName, const QString &device) {
  return comName == device ? device : QStringLiteral("%1 → %2").arg(comName, device);
}

Failure openFailure(QSerialPort::SerialPortError error, const QString &comName,
                    const QString &device, bool deviceAccessible, const QString &systemText) {
  const QString tried = portTried(comName, device);
  switch (error) {
  case QSerialPort::DeviceNotFoundError:
    return Failure(FailureNumber::InvalidPortNumber,
                   QStringLiteral("%1：找不到该设备 no such device").arg(tried));
  // The system's answer for a device that has gone (an adapter pulled while its name stayed).
  case QSerialPort::ResourceError:
    return Failure(FailureNumber::InvalidPortNumber,
                   QStringLiteral("%1：设备已断开 the device has been disconnected").arg(tried));
  case QSerialPort::OpenError:
    return Failure(FailureNumber::PortAlreadyOpen,
                   QStringLiteral("%1：已被其他程序占用 held by another program").arg(tried));
  case QSerialPort::PermissionError:
    if (deviceAccessible)
      return Failure(FailureNumber::PortAlreadyOpen,
                     QStringLiteral("%1：已被其他程序占用 held by another program").arg(tried));
    return Failure(FailureNumber::PermissionDenied,
                   QStringLiteral("%1\n请将用户加入 dialout 组并重新登录。\n"
                                  "Add your user to the group dialout, then log in again.")
                       .arg(tried));
  default:
    return Failure(FailureNumber::CannotSetCommState,
                   QStringLiteral("%1：%2").arg(tried, systemText));
  }
}

QString lineFaultReason(QSerialPort::SerialPortError error, const QString &systemText) {
  QString reason;
  switch (error) {
  case QSerialPort::ReadError:
    reason = QStringLiteral("读取串口失败 Reading from the port failed");
    break;
  case QSerialPort::WriteError:
    reason = QStringLiteral("写入串口失败 Writing to the port failed");
    break;
  case QSerialPort::ResourceError:
    reason = QStringLiteral("串口设备出错 The port's device failed");
    break;
  default:
    reason = QStringLiteral("串口出错 The port failed");
    break;
  }
  return systemText.isEmpty() ? reason + QLatin1Char('.')
                              : QStringLiteral("%1: %2.").arg(reason, systemText);
}
