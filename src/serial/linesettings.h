#pragma once

#include <QString>
#include <optional>

enum class StopBits { One, OneAndHalf, Two };

// A line-settings string as "9600,n,8,1": rate, parity letter, data bits, stop bits.
struct LineSettings {
  qint32 rate = 9600;
  char parity = 'n'; // n, o, e, m or s, always lower case here
  int dataBits = 8;
  StopBits stopBits = StopBits::One;
};

// Accepts exactly: a rate of 1 to 4000000 without sign or leading zero, a parity letter
// n/o/e/m/s in either case, data bits 5 to 8, stop bits 1, 1.5 or 2, joined by single commas
// with no blanks. Anything else is malformed and gives nothing.
std::optional<LineSettings> parseLineSettings(QStringView text);

// The time one character takes on the line, start and stop bits included, in microseconds.
qint64 characterMicros(const LineSettings &line);

// How long the line must be silent before an unfinished reply block counts as stray: the larger
// of 100 ms and 20 character times. A device sends a block back to back, but a USB adapter hands
// bytes over in chunks when its latency timer runs out (16 ms is the common default), so a gap
// shorter than several timers would split real replies; slow rates get 20 characters' time.
int strayGapMs(const LineSettings &line);
