#include "device/failure.h"

Failure::Failure(FailureNumber number, const QString &detail)
    : number_(number), description_(standardDescription(number)) {
  if (!detail.isEmpty())
    description_ += QLatin1Char('\n') + detail;
  utf8_ = QStringLiteral("%1: %2").arg(static_cast<int>(number)).arg(description_).toUtf8();
}

QString standardDescription(FailureNumber number) {
  switch (number) {
  case FailureNumber::InvalidArgument:
    return QStringLiteral("无效的参数 Invalid argument");
  case FailureNumber::Overflow:
    return QStringLiteral("溢出 Overflow");
  case FailureNumber::TypeMismatch:
    return QStringLiteral("类型不匹配 Type mismatch");
  case FailureNumber::DeviceIo:
    return QStringLiteral("设备 I/O 错误 Device I/O error");
  case FailureNumber::PermissionDenied:
    return QStringLiteral("没有权限 Permission denied");
  case FailureNumber::TransmitBufferFull:
    return QStringLiteral("发送缓冲区已满 Transmit buffer full");
  case FailureNumber::InvalidPropertyValue:
    return QStringLiteral("无效的属性值 Invalid property value");
  case FailureNumber::InvalidPortNumber:
    return QStringLiteral("无效的端口号 Invalid port number");
  case FailureNumber::PortAlreadyOpen:
    return QStringLiteral("端口已打开 Port already open");
  case FailureNumber::CannotSetCommState:
    return QStringLiteral("无法设置串口状态 Could not set comm state");
  case FailureNumber::PortNotOpen:
    return QStringLiteral("端口未打开 Operation valid only when the port is open");
  }
  return {};
}

QString failureText(const Failure &failure) {
  return QStringLiteral("错误 %1  Error %1\n\n%2").arg(failure.number()).arg(failure.description());
}
