#include "cli/portlist.h"

#include "cli/arguments.h"
#include "cli/events.h"

int listPorts(EventWriter &events, const QList<ComDevice> &devices) {
  int listed = 0;
  for (int n = 1; n <= devices.size(); ++n)
    if (devices[n - 1].present) {
      events.port(QStringLiteral("COM%1").arg(n), devices[n - 1].device,
                  devices[n - 1].description);
      ++listed;
    }
  if (listed > 0)
    return ExitStatus::Sent;
  events.noPorts(ExitStatus::PortNotOpened);
  return ExitStatus::PortNotOpened;
}
