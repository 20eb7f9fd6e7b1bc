#pragma once

#include "common/record.h"

#include <QByteArray>
#include <QSet>
#include <QString>

struct Plan;

// What an earlier run's record says, checked against the plan it is to go on with. Record lines
// are matched to the plan's rows by address, so that comments and blank lines added to the plan
// or taken out of it change nothing; rows that share an address (--allow-repeats) are told
// apart by their line as well.
struct RecordRead {
  QSet<QString> answered; // answeredKey of every command of the plan the record shows answered
  QString problem;        // why the record cannot be gone on with; empty when it can
  qint64 wholeBytes = 0;  // the size up to its last complete line
  QString unfinished;     // a last line cut short, which the next run writes over
};
// json says in which form the run goes on writing it; a record in the other is refused.
RecordRead readRecord(const QString &path, const Plan &plan, bool json);
RecordRead recordFromBytes(const QByteArray &bytes, const Plan &plan, bool json);

// The key of a command of the plan's row on the given line, as RecordRead::answered holds it.
QString answeredKey(int planLine, const QString &command);

// The plan's name with .record.csv, or .record.jsonl for JSON lines, in the plan's folder.
QString defaultRecordPath(const QString &planPath, bool json);
