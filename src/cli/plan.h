#pragma once

#include "cli/arguments.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One frame of a plan's row, with the command word that names it in the record.
struct PlanCommand {
  QString word;
  QByteArray frame;
};

// One device of a plan: its line in the file and its frames in the order they go out.
struct PlanRow {
  int line = 0;
  QString address; // two digits, as the frame carries it
  QList<PlanCommand> commands;
};

struct Plan {
  QList<PlanRow> rows;
  // Why the plan is refused, one problem a line; empty when every row passed.
  QStringList problems;
};

// Reads and checks a plan: a CSV file with a header naming its columns, one row per device.
// A byte-order mark says how it is written (UTF-8 or UTF-16); without one it is UTF-8 or GBK,
// whichever its bytes can only be, or as encoding says. Each row is checked by the rules of the
// single commands, so that a plan holding any bad row is refused as a whole before anything is
// sent.
Plan readPlan(const QString &path, bool allowRepeats, PlanEncoding encoding);

// The same from the file's bytes, for a plan that is already read.
Plan planFromBytes(const QByteArray &bytes, bool allowRepeats, PlanEncoding encoding);
