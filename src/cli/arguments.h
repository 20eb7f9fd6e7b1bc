#pragma once

#include <QString>
#include <QStringList>
#include <variant>

// The exit statuses scripts test for.
enum ExitStatus {
  Sent = 0,
  UsageError = 2,
  InputRefused = 3,
  PortNotOpened = 4,
  NoReply = 5,
  DeviceLost = 6,
  FrameNotSent = 7,
  // The program's own output, a commissioning record included, could not be written.
  OutputFailed = 8,
  // A commissioning run that ended with a command unanswered, unsent or skipped.
  NotAllAnswered = 9,
  // A commissioning run the operator stopped (q, Ctrl+C, or the end of standard input).
  StoppedByOperator = 10,
  // Plus the signal's number, as a shell reports a program the signal ended.
  StoppedBySignal = 128,
};

enum class Command { List, Address, UserCode, PowerOnLock, ResetPassword, Commission };

// How a plan without a byte-order mark is read: as what its bytes can only be, or as said.
enum class PlanEncoding { Detect, Utf8, Gbk };

// The word that names a command on the command line and in a commissioning record.
QString commandWord(Command command);

// What one run is asked to do. The port, rate and parity are kept as the window's list texts
// ("COM3", "9600", "None"), so that the port is opened from them exactly as the window opens it.
// Without --port, --rate and --parity they are what the window's lists show when it starts,
// so that a command line opens the line the untouched window opens.
struct Request {
  Command command = Command::List;
  QString argument; // the address or user code as typed
  QString port = QStringLiteral("COM1");
  bool portIsDevice = false; // a device to open as named, not a COM name
  QString rate = QStringLiteral("2400");
  QString parity = QStringLiteral("None");
  int waitMs = 2000;
  // Keep listening for the whole wait and print every reply, instead of ending on the first.
  bool listen = false;
  bool hex = false;
  bool json = false;
  // commission: the plan is the argument.
  QString record; // empty: beside the plan
  bool resume = false;
  bool allowRepeats = false;
  PlanEncoding encoding = PlanEncoding::Detect;
};

struct ShowHelp {};
struct ShowVersion {};
// What was wrong with the command line, for the user.
struct Usage {
  QString problem;
};

using Parsed = std::variant<Request, ShowHelp, ShowVersion, Usage>;

// Parses the program's arguments, its own name first (as QCoreApplication::arguments() has
// them).
Parsed parseArguments(const QStringList &arguments);

QString helpText();
QString versionText();
