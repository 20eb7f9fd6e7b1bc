#pragma once

// The exit statuses scripts test for, the same in both programs where they mean the same.
enum ExitStatus {
  Sent = 0,
  UsageError = 2,
  InputRefused = 3,
  PortNotOpened = 4,
  NoReply = 5,
  DeviceLost = 6,
  FrameNotSent = 7,
  // The program's own output, a record included, could not be written.
  OutputFailed = 8,
  // A commissioning run that ended with a command unanswered, unsent or skipped.
  NotAllAnswered = 9,
  // A commissioning run the operator stopped (q, Ctrl+C, or the end of standard input).
  StoppedByOperator = 10,
  // Plus the signal's number, as a shell reports a program the signal ended.
  StoppedBySignal = 128,
};
