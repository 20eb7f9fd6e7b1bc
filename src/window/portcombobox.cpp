#include "window/portcombobox.h"

#include <QHelpEvent>
#include <algorithm>

void PortComboBox::showPopup() {
  emit dropDown();
  QComboBox::showPopup();
}

bool PortComboBox::event(QEvent *event) {
  if (event->type() != QEvent::ToolTip)
    return QComboBox::event(event);
  emit toolTipAsked(static_cast<QHelpEvent *>(event)->globalPos());
  return true;
}

QStringList deviceTips(const QList<ComDevice> &devices) {
  const bool anyPresent =
      std::any_of(devices.begin(), devices.end(), [](const ComDevice &com) { return com.present; });
  QStringList tips;
  for (const ComDevice &com : devices) {
    if (com.present)
      tips.append(com.description.isEmpty() ? com.device
                                            : com.device + QStringLiteral(" — ") + com.description);
    else if (anyPresent)
      tips.append(QStringLiteral("没有设备 no device"));
    else
      tips.append(QStringLiteral(
          "没有找到串口设备：请检查线缆和 USB 转串口适配器；在 Linux 上请确认用户属于 "
          "dialout 组。\nNo serial device found: check the cable and the USB "
          "serial adapter; on Linux, check that you are in the group dialout."));
  }
  return tips;
}

QList<ComDevice> withDevicesGiven(QList<ComDevice> devices, const QMap<int, QString> &given) {
  for (auto com = given.begin(); com != given.end(); ++com)
    if (com.key() >= 1 && com.key() <= devices.size())
      devices[com.key() - 1] = {com.value(), QStringLiteral("--com"), true};
  return devices;
}
