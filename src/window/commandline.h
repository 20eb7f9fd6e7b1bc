#pragma once

#include <QString>
#include <optional>

// The window program's own command line: only --help and --version, besides the options every
// Qt program understands (-platform, -stylesheet, …).

// The help or the version, when the command line asks for one: printed, and the program ends
// with status 0 before the application object exists, so they need no window and no display.
std::optional<QString> answerBeforeTheWindow(int argc, char *argv[]);

// Once the application has taken out the options it understands, what is wrong with anything
// left (a usage error, exit status 2), in both languages where it can be.
std::optional<QString> argumentsLeftOver();
