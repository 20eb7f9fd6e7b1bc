#pragma once

#include <QSerialPort>
#include <QString>
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
// How many of them.
qint64 systemInputQueued(SerialHandle handle);
#ifndef Q_OS_WIN
// Waits at most ms for bytes to arrive (or for a hang-up); tells whether any wait.
bool waitForInput(SerialHandle handle, int ms);
#endif

// A UART (or a USB adapter standing for one) sends what the driver has passed on after the driver
// has let go of it, so a frame has left only once the transmitter is empty too. A pseudo-terminal
// has no transmitter: what it has taken has gone.
bool systemHasTransmitter(SerialHandle handle);

// The device has hung up: a USB adapter pulled, or (for a pseudo-terminal) its other side
// closed. A cut cable does not show here: without the modem lines it is only silence.
bool deviceHungUp(SerialHandle handle);

// A look at a device just before opening it: whether another program holds it exclusively
// (TIOCEXCL on Linux), which an open by root would otherwise pass without a word. The look stays
// open until it goes, after the port has opened, so that its close is never the device's last
// one, which would hang the line up. Windows opens a port for one program only, so there it
// finds nothing.
class ExclusiveCheck {
public:
  explicit ExclusiveCheck(const QString &device);
  ~ExclusiveCheck();
  ExclusiveCheck(const ExclusiveCheck &) = delete;
  ExclusiveCheck &operator=(const ExclusiveCheck &) = delete;

  bool heldByAnother() const { return heldByAnother_; }

private:
  int descriptor_ = -1;
  bool heldByAnother_ = false;
};
