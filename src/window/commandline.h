#pragma once

#include <QMap>
#include <QString>
#include <memory>
#include <optional>

class RecordFile;

// The window program's own command line: --help, --version, --com and --record, besides the options
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
  // --record FILE: where every frame and what came of it is written; empty without it.
  QString record;
};
WindowArguments windowArguments();

// The record --record names, opened and begun before the window shows, so that a record that
// cannot be kept is known before anything is sent; or what is wrong, and the exit status that
// says so, the command-line program's for the same fault. A name ending in .jsonl holds JSON
// lines, any other CSV.
struct WindowRecord {
  std::unique_ptr<RecordFile> file;
  QString problem;
  int status = 0;
};
WindowRecord openWindowRecord(const QString &path);
