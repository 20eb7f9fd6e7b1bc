#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// How a COM number reaches a device. On Windows COMn is the system's COMn. On Linux COM1,
// COM2, ... name the serial devices present when the port is opened, in a fixed order: the
// on-board UARTs the system reports as real (ttyS by number), then USB adapters (ttyUSB by
// number), then USB CDC devices (ttyACM by number), then any others by name. So a laptop
// without an on-board port finds its one USB adapter at COM1.

// What the system has behind a COM name.
struct ComDevice {
  QString device;       // the path or name that opens it; empty where there is none
  QString description;  // the system's description, such as a USB adapter's name; may be empty
  bool present = false; // the system lists the device now
};

// The devices behind COM1 to COM<count>, from one scan of the system: a scan takes tens of
// milliseconds, too long to make one for each number.
QList<ComDevice> systemComDevices(int count);

// Sorts device paths into the order above; pure, so the order can be checked anywhere.
QStringList inComOrder(QStringList devicePaths);
