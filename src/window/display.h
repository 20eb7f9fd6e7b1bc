#pragma once

#include <QString>

// Qt ends a program with an abort when its platform reaches no display (started over SSH, or
// from a text console). Made before the application object, this puts the offscreen platform
// after the one Qt would choose, so that the program still reads its command line and can say
// what is missing; the messages of the failed attempt are held back and dropped.
class DisplayFallback {
public:
  DisplayFallback(int argc, char *argv[]);

  // Called once, right after the application object is made: whether no display was reached.
  // The platform's held messages are passed on when one was.
  bool noDisplay();

private:
  bool armed_ = false;
};

// The one line said when there is no display, and the program's status then.
QString noDisplayText();
inline constexpr int noDisplayStatus = 1;
