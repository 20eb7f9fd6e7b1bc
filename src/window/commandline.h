#pragma once

#include <QMap>
#include <QString>
#include <optional>

// The window program's own command line: --help, --version and --com, besides the options
// every Qt program understands (-platform, -stylesheet, …).

// The help or the version, when the command line asks for one: printed, and the program ends
// with status 0 before the application object exists, so they need no window and no display.
std::optional<QString> answerBeforeTheWindow(int argc, char *argv[]);

// What the command line asks of the window, read once the application has taken out the
// options it understands.
struct WindowArguments {
  // What is wrong with it (a usage error, exit status 2), in both languages where it can be.
  std::optional<QString> problem;
  // --com COMn=DEVICE: the device each COM entry stands for, in place of the system's.
  QMap<int, QString> comDevices;
};
WindowArguments windowArguments();
