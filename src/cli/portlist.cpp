#include "cli/portlist.h"

#include "cli/events.h"
#include "serial/devicemap.h"
#include "serial/openport.h"

void listPorts(EventWriter &events) {
  const QList<ComDevice> devices = systemComDevices(highestComNumber);
  for (int n = 1; n <= devices.size(); ++n)
    if (devices[n - 1].present)
      events.port(QStringLiteral("COM%1").arg(n), devices[n - 1].device,
                  devices[n - 1].description);
}
