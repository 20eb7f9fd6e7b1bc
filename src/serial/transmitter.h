#pragma once

#include "serial/systemline.h"

#include <QDeadlineTimer>
#include <memory>

// The last stretch of a frame's way out: bytes the driver has passed on to the UART (its FIFO and
// shift register, or a USB adapter's buffer), which the driver's queue no longer counts. Closing
// the port or changing its settings before they have gone puts them on the line at the wrong
// rate. Nothing here blocks the caller: on Linux tcdrain runs on a thread of its own; on Windows,
// where flushing a serial handle discards its output under Wine and no call tells when the shift
// register is empty, the FIFO and the shift register are given their line time once the driver's
// queue is empty. How long to wait for it is the caller's to say.
class Transmitter {
public:
  enum class State {
    Idle,    // no wait started
    Sending, // the transmitter may still hold bytes
    Empty,   // its last bit has left
  };

  // Starts the wait, once the driver's queue is empty, for the bytes handed over last, each
  // taking characterMicros on the line: no more of them than that can be left in the UART.
  void start(SerialHandle handle, qint64 bytes, qint64 characterMicros);
  State state() const;
  void reset();

private:
  struct Drain;
  std::shared_ptr<Drain> drain_;
  QDeadlineTimer bound_;
  bool started_ = false;
};
