#pragma once

#include "device/failure.h"

#include <QSerialPort>

// How messages name the port: "COM3 → /dev/ttyUSB0", or the device alone when it was named
// directly.
QString portTried(const QString &comName, const QString &device);

// What the operator is told when a port does not open: which COM name and device were tried
// and, where it helps, what to do about it. deviceAccessible says whether this user may read
// and write the device; a permission error on an accessible device means another program
// holds it.
Failure openFailure(QSerialPort::SerialPortError error, const QString &comName,
                    const QString &device, bool deviceAccessible, const QString &systemText);

// Why an open line failed, for the box that says the port closed: what failed, in Chinese and
// English like the other reasons, then the system's own words.
QString lineFaultReason(QSerialPort::SerialPortError error, const QString &systemText);
