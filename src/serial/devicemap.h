#pragma once

#include <QString>
#include <QStringList>

// How a COM number reaches a device. On Windows COMn is the system's COMn. On Linux COM1,
// COM2, ... name the serial devices present when the port is opened, in a fixed order: the
// on-board UARTs the system reports as real (ttyS by number), then USB adapters (ttyUSB by
// number), then USB CDC devices (ttyACM by number), then any others by name. So an operator
// with one USB adapter on a laptop finds it at COM1.

// The devices for COM1 to COM<count>, an empty string where there is none. One scan of the
// system: a scan takes tens of milliseconds, too long to make one for each number.
QStringList systemDevicesForComNumbers(int count);

// The system's serial devices in the order above, as paths such as /dev/ttyUSB0.
QStringList presentSerialDevices();

// Sorts device paths into the order above; pure, so the order can be checked anywhere.
QStringList inComOrder(QStringList devicePaths);

#ifdef Q_OS_WIN
// The system's description of the device behind each of COM1 to COM<count> (a USB adapter's
// name, say), an empty string where there is no such port or it has no description. COMn is
// the system's own name on Windows, so the description is what tells the ports apart.
QStringList comPortDescriptions(int count);
#endif
