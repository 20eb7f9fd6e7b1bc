#pragma once

// What a program does to one serial device, as the system sees it: linked into a test executable
// that exports its symbols, this stands in for the C library's write, tcdrain, tcsetattr, ioctl and
// close, and read, notes the calls on that device in order, one line each ("write 5", "read 12",
// "drain", "drained", "tcsetattr", "TCSETS", "TCFLSH", "close") and passes them on. tcdrain can be
// held, as a UART still shifting out its last bits holds it.
//
// A program started by a test is set up from its environment when it starts:
// QELNOR_LINE_CALLS_DEVICE (the device to watch), QELNOR_LINE_CALLS_LOG (a file the lines are
// appended to) and QELNOR_LINE_CALLS_HOLD_DRAINS=1.

#ifdef __cplusplus
extern "C" {
#endif

// Watches the device at path from now on, with an empty log.
void lineCallsWatch(const char *path);
// While held, every tcdrain on the device waits; releasing lets them go on.
void lineCallsHoldDrains(int hold);
// The lines noted so far, joined by newlines, as a string the caller frees.
char *lineCallsLog(void);
// Waits at most timeoutMs until the line has been noted; tells whether it has.
int lineCallsAwait(const char *line, int timeoutMs);
// Waits at most timeoutMs until the program has read that many bytes from the device since it
// has been watched; tells whether it has.
int lineCallsAwaitRead(long bytes, int timeoutMs);

#ifdef __cplusplus
}
#endif
