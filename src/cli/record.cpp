#include "cli/record.h"

#include "cli/plan.h"
#include "common/csv.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

namespace {

const QString matchedByLine =
    QStringLiteral("这些行按行号对应，请恢复计划原来的行。Such rows are matched by their line: put "
                   "the plan's lines back as they were.");

// The plan's rows by address, to find the row a record line belongs to.
using RowsByAddress = QHash<QString, QList<const PlanRow *>>;

// The row a record line belongs to; it stays null when the line fits no row, problem saying why.
const PlanRow *rowOf(const QStringList &values, const RowsByAddress &rows, QString *problem) {
  const QString &address = values[RecordColumn::address];
  const QList<const PlanRow *> candidates = rows.value(address);
  if (candidates.isEmpty()) {
    *problem = QStringLiteral("计划中没有地址 %1。The plan has no address %1.").arg(address);
    return nullptr;
  }
  if (candidates.size() == 1)
    return candidates.first();
  const int line = values[RecordColumn::line].toInt();
  for (const PlanRow *row : candidates)
    if (row->line == line)
      return row;
  *problem = QStringLiteral("计划中有多行使用地址 %1，第 %2 行不是其中之一。Rows of the plan "
                            "share address %1 and line %2 is none of them. %3")
                 .arg(address, values[RecordColumn::line], matchedByLine);
  return nullptr;
}

// Why the command of a record line is not what the row sends now, or nothing when it is.
QString changedCommand(const QStringList &values, const PlanRow &row) {
  const QString &command = values[RecordColumn::command];
  const QString &frame = values[RecordColumn::frameHex];
  if (command.isEmpty())
    return {};
  for (const PlanCommand &planned : row.commands) {
    if (planned.word != command)
      continue;
    if (recordHex(planned.frame) == frame)
      return {};
    return QStringLiteral("计划第 %1 行（地址 %2）已更改 Line %1 of the plan (address %2) has "
                          "changed: the record has %3 %4, the plan now sends %5.")
        .arg(row.line)
        .arg(row.address, command, frame, recordHex(planned.frame));
  }
  return QStringLiteral("计划第 %1 行（地址 %2）已更改 Line %1 of the plan (address %2) has "
                        "changed: the record has %3 %4, which the plan no longer sends.")
      .arg(row.line)
      .arg(row.address, command, frame);
}

// Rows that share an address are matched by their line, which moves when lines are added to the
// plan or taken out. A run reaches the rows in order and records each it reaches, so a record
// that mentions such a row but not one before it with the same address was written when the
// plan's lines were elsewhere.
QString movedRows(const RowsByAddress &rows, const QSet<const PlanRow *> &mentioned) {
  for (const QList<const PlanRow *> &shared : rows) {
    const PlanRow *unmentioned = nullptr;
    for (const PlanRow *row : shared) {
      if (!mentioned.contains(row))
        unmentioned = unmentioned ? unmentioned : row;
      else if (unmentioned)
        return QStringLiteral("计划中有多行使用地址 %1，记录有第 %2 行却没有第 %3 行。Rows of the "
                              "plan share address %1 and the record has line %2 but not line %3. "
                              "%4")
            .arg(row->address)
            .arg(row->line)
            .arg(unmentioned->line)
            .arg(matchedByLine);
    }
  }
  return {};
}

} // namespace

RecordRead recordFromBytes(const QByteArray &bytes, const Plan &plan, bool json) {
  RecordRead read;
  read.wholeBytes = bytes.lastIndexOf('\n') + 1;
  read.unfinished = QString::fromUtf8(bytes.mid(read.wholeBytes));
  QByteArray whole = bytes.first(read.wholeBytes);
  // A CSV record begins with a byte-order mark since spreadsheets need one; older ones do not.
  if (!json && whole.startsWith("\xEF\xBB\xBF"))
    whole.remove(0, 3);
  if (!whole.isEmpty() && whole.startsWith('{') != json) {
    read.problem = json ? QStringLiteral("记录是 CSV，请去掉 --json。The record is CSV: go on "
                                         "without --json.")
                        : QStringLiteral("记录是 JSON 行，请加 --json。The record holds JSON "
                                         "lines: go on with --json.");
    return read;
  }
  RowsByAddress rows;
  for (const PlanRow &row : plan.rows)
    rows[row.address].append(&row);
  const QString header = csvLine(recordColumns());
  QSet<const PlanRow *> mentioned;
  const QList<QByteArray> lines = whole.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i) {
    QString line = QString::fromUtf8(lines[i]);
    if (line.endsWith(u'\r'))
      line.chop(1);
    if (line.isEmpty() || (!json && i == 0 && line == header))
      continue;
    const auto values = recordLineValues(line, json);
    QString problem;
    if (!values) {
      problem = QStringLiteral("不是本程序的记录行。Not a line of this program's record.");
    } else if (values->at(RecordColumn::outcome) != outcomeWord(Outcome::started)) {
      if (const PlanRow *row = rowOf(*values, rows, &problem)) {
        mentioned.insert(row);
        problem = changedCommand(*values, *row);
        // An answer that names no command (a record edited by hand) leaves the device's
        // commands to be sent again rather than taken as done.
        const QString &command = values->at(RecordColumn::command);
        if (problem.isEmpty() && !command.isEmpty() &&
            values->at(RecordColumn::outcome) == outcomeWord(Outcome::answered))
          read.answered.insert(answeredKey(row->line, command));
      }
    }
    if (!problem.isEmpty()) {
      read.problem = QStringLiteral("记录第 %1 行不属于此计划 Line %1 of the record does not "
                                    "belong to this plan: %2")
                         .arg(i + 1)
                         .arg(problem);
      return read;
    }
  }
  read.problem = movedRows(rows, mentioned);
  return read;
}

RecordRead readRecord(const QString &path, const Plan &plan, bool json) {
  RecordRead read;
  const QFileInfo info(path);
  if (!info.exists())
    return read;
  // A pipe or a terminal holds no earlier run to go on with, and reading one would wait.
  if (!info.isFile()) {
    read.problem = QStringLiteral("记录 %1 不是文件，无法继续。The record %1 is not a file: "
                                  "--resume goes on with a record file.")
                       .arg(path);
    return read;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    read.problem =
        QStringLiteral("无法读取记录 Cannot read the record %1: %2").arg(path, file.errorString());
    return read;
  }
  read = recordFromBytes(file.readAll(), plan, json);
  if (!read.problem.isEmpty())
    read.problem = QStringLiteral("%1: %2").arg(path, read.problem);
  return read;
}

QString answeredKey(int planLine, const QString &command) {
  return QStringLiteral("%1 %2").arg(planLine).arg(command);
}

QString defaultRecordPath(const QString &planPath, bool json) {
  const QFileInfo plan(planPath);
  const QString base = plan.suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0
                           ? plan.path() + QLatin1Char('/') + plan.completeBaseName()
                           : planPath;
  return base + (json ? QStringLiteral(".record.jsonl") : QStringLiteral(".record.csv"));
}
