#pragma once

#include "serial/devicemap.h"

#include <QComboBox>
#include <QMap>

// The port list. It says when it is about to open, so that the tooltips naming the device
// behind each COM name can be brought up to date (adapters come and go while the tool runs),
// and when a tooltip is asked for while it is closed, so that it names the device behind the
// name it shows.
class PortComboBox : public QComboBox {
  Q_OBJECT

public:
  using QComboBox::QComboBox;

  void showPopup() override;

signals:
  void dropDown();
  void toolTipAsked(const QPoint &globalPosition);

protected:
  bool event(QEvent *event) override;
};

// What the tooltips say of the devices behind COM1, COM2, ...: each device and its description,
// or that there is none; when the system has no serial device at all, what to check.
QStringList deviceTips(const QList<ComDevice> &devices);

// devices with those given on the command line in place of the system's: the device, said to
// be given there.
QList<ComDevice> withDevicesGiven(QList<ComDevice> devices, const QMap<int, QString> &given);
