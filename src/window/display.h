#pragma once

#include <QString>
#include <optional>

// Qt ends a program with an abort when its platform reaches no display (started over SSH, or
// from a text console, or with no right to the desktop). Made before the application object,
// this puts the offscreen platform after the one Qt would choose, so that the program still
// reads its command line and can say what is missing. Qt's messages are held back meanwhile:
// passed on as they were when a display was reached, the first one quoted when none was. A
// message that may end the program is passed on at once.
class DisplayFallback {
public:
  DisplayFallback(int argc, char *argv[]);

  // Called once, right after the application object is made: what to say when no display was
  // reached, nothing when one was.
  std::optional<QString> problem();

private:
  bool armed_ = false;
};

// What stood in the way of the display the environment names.
enum class DisplayAnswer {
  Unset,       // no DISPLAY at all
  Unreachable, // nothing answers at DISPLAY
  Refused,     // an X server answered and turned the program away (no X authority for it)
  NotUsable,   // the X server takes the program, but Qt could not use it
};

struct DisplayTried {
  QString display;      // DISPLAY as set
  DisplayAnswer answer; // what happened there
  QString serverSaid;   // the X server's reason for a refusal, when it gave one
  QString qtSaid;       // Qt's first complaint, passed on as the operator's clue
};

// The paragraph said when there is no display, and the program's status then.
QString noDisplayText(const DisplayTried &tried);
inline constexpr int noDisplayStatus = 1;
