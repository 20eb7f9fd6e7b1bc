#include "cli/portlist.h"

#include "cli/events.h"
#include "serial/devicemap.h"
#include "serial/openport.h"

#include <QHash>
#include <QSerialPortInfo>

void listPorts(EventWriter &events) {
  // Windows names a device by its port name ("COM3"), Linux by its path; either finds it.
  QHash<QString, QString> descriptions;
  for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
    descriptions.insert(info.portName(), info.description());
    descriptions.insert(info.systemLocation(), info.description());
  }
  const QStringList devices = systemDevicesForComNumbers(highestComNumber);
  for (int n = 1; n <= devices.size(); ++n) {
    const QString &device = devices[n - 1];
    if (descriptions.contains(device))
      events.port(QStringLiteral("COM%1").arg(n), device, descriptions.value(device));
  }
}
