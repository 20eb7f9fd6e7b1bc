#pragma once

// What a program does to one serial device, as the system sees it: linked into a test executable
// that exports its symbols, this stands in for the C library's write, read, poll, tcdrain,
// tcflush, tcsetattr, ioctl and close, notes the calls on that device in order, one line each
// ("write 5", "read 12", "drain", "drained", "tcflush", "tcsetattr", "close") and passes them on.
// The device answers as a UART's driver does (TIOCGSERIAL), and its tcdrain can be held, as a UART
// still shifting out its last bits holds it.
//
// A program started by a test is set up from its environment when it starts:
// QELNOR_LINE_CALLS_DEVICE (the device to watch), QELNOR_LINE_CALLS_LOG (a file the lines are
// appended to), QELNOR_LINE_CALLS_HOLD_DRAINS=1 and QELNOR_LINE_CALLS_PACE (microseconds a byte).

#ifdef __cplusplus
extern "C" {
#endif

// Watches the device at path from now on, with an empty log; before the program opens it, so that
// the program finds a UART.
void lineCallsWatch(const char *path);
// While held, every tcdrain on the device waits; releasing lets them go on.
void lineCallsHoldDrains(int hold);
// The lines noted so far, joined by newlines, as a string the caller frees.
char *lineCallsLog(void);
// From now on the device's line sends a byte every microsPerByte, as a UART's would: the driver's
// queue (TIOCOUTQ) holds what has not been sent but for a FIFO of 16, poll offers room (POLLOUT)
// while fewer than 256 wait, a flush of output (tcflush) leaves the FIFO, and tcdrain returns when
// all has gone. The device still reads the bytes at once. 0 turns the pace off.
void lineCallsPace(long microsPerByte);
// Waits at most timeoutMs until the line has been noted; tells whether it has.
int lineCallsAwait(const char *line, int timeoutMs);
// Waits at most timeoutMs until the program has read that many bytes from the device since it
// has been watched; tells whether it has.
int lineCallsAwaitRead(long bytes, int timeoutMs);

#ifdef __cplusplus
}
#endif
