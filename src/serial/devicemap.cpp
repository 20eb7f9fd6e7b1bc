#include "serial/devicemap.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>
#include <tuple>

namespace {

// The rank of a device's family, its number within the family, and its name for the rest.
std::tuple<int, qint64, QString> comOrderKey(const QString &path) {
  static const QRegularExpression numbered(
      QRegularExpression::anchoredPattern(QStringLiteral(R"(tty(S|USB|ACM)(\d+))")));
  const QString name = QFileInfo(path).fileName();
  const auto match = numbered.match(name);
  if (!match.hasMatch())
    return {3, 0, name};
  const QString family = match.captured(1);
  const int rank = family == QLatin1String("S") ? 0 : family == QLatin1String("USB") ? 1 : 2;
  return {rank, match.captured(2).toLongLong(), name};
}

#ifdef Q_OS_WIN
// The number of a Windows port name such as "COM3" (the system may write it in either case).
int comNumberOf(const QString &portName) {
  static const QRegularExpression comName(
      QRegularExpression::anchoredPattern(QStringLiteral(R"(COM([1-9]\d{0,2}))")),
      QRegularExpression::CaseInsensitiveOption);
  const auto match = comName.match(portName);
  return match.hasMatch() ? match.captured(1).toInt() : 0;
}
#endif

} // namespace

QStringList inComOrder(QStringList devicePaths) {
  std::stable_sort(devicePaths.begin(), devicePaths.end(), [](const QString &a, const QString &b) {
    return comOrderKey(a) < comOrderKey(b);
  });
  return devicePaths;
}

QList<ComDevice> systemComDevices(int count) {
  const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
  QList<ComDevice> devices(count);
#ifdef Q_OS_WIN
  for (int n = 1; n <= count; ++n)
    devices[n - 1].device = QStringLiteral("COM%1").arg(n);
  for (const QSerialPortInfo &info : ports) {
    const int n = comNumberOf(info.portName());
    if (n >= 1 && n <= count)
      devices[n - 1] = {info.portName().toUpper(), info.description(), true};
  }
#else
  QStringList paths;
  for (const QSerialPortInfo &info : ports)
    paths.append(info.systemLocation());
  paths = inComOrder(paths);
  for (int n = 1; n <= count && n <= paths.size(); ++n) {
    const auto info = std::find_if(ports.begin(), ports.end(), [&](const QSerialPortInfo &port) {
      return port.systemLocation() == paths[n - 1];
    });
    devices[n - 1] = {paths[n - 1], info->description(), true};
  }
#endif
  return devices;
}
