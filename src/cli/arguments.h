#pragma once

#include "common/exitstatus.h"
#include "device/replywait.h"

#include <QString>
#include <QStringList>
#include <variant>

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
  int waitMs = replyWaitMs;
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

// The frame the window's button for the request's command sends; raises its refusal. Nothing
// for the commands that send no frame of their own.
QByteArray commandFrame(const Request &request);

QString helpText();
QString versionText();
