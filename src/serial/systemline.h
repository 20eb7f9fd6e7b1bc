#pragma once

#include <QSerialPort>
#include <utility>

// The system handle of an open port: a file descriptor, or a Windows handle.
using SerialHandle = decltype(std::declval<const QSerialPort &>().handle());

// What the operating system knows of an open serial device beyond Qt's own buffers.

// Bytes the driver has taken but not yet sent down the line. A pseudo-terminal always reports 0:
// what its other side has not read yet sits in that side's input, which this one cannot see.
qint64 systemOutputQueued(SerialHandle handle);

// The driver takes a frame of this program (under 70 bytes) whole right now: a write of it will
// not be cut short by a full queue.
bool systemTakesFrameWhole(SerialHandle handle);

// Bytes have arrived that Qt has not read yet: the line is not silent.
bool systemInputPending(SerialHandle handle);

// The device has hung up: a USB adapter pulled, or (for a pseudo-terminal) its other side
// closed. A cut cable does not show here: without the modem lines it is only silence.
bool deviceHungUp(SerialHandle handle);
