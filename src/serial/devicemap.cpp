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

} // namespace

QStringList inComOrder(QStringList devicePaths) {
  std::stable_sort(devicePaths.begin(), devicePaths.end(), [](const QString &a, const QString &b) {
    return comOrderKey(a) < comOrderKey(b);
  });
  return devicePaths;
}

QStringList presentSerialDevices() {
  QStringList paths;
  for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
    paths.append(info.systemLocation());
  return inComOrder(paths);
}

QStringList systemDevicesForComNumbers(int count) {
  QStringList devices;
#ifdef Q_OS_WIN
  for (int n = 1; n <= count; ++n)
    devices.append(QStringLiteral("COM%1").arg(n));
#else
  devices = presentSerialDevices().mid(0, count);
  while (devices.size() < count)
    devices.append(QString());
#endif
  return devices;
}

#ifdef Q_OS_WIN
QStringList comPortDescriptions(int count) {
  static const QRegularExpression comName(
      QRegularExpression::anchoredPattern(QStringLiteral(R"(COM([1-9]\d*))")),
      QRegularExpression::CaseInsensitiveOption);
  QStringList descriptions(count);
  for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
    const auto match = comName.match(info.portName());
    const qint64 number = match.hasMatch() ? match.captured(1).toLongLong() : 0;
    if (number >= 1 && number <= count)
      descriptions[number - 1] = info.description();
  }
  return descriptions;
}
#endif
