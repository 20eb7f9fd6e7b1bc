#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <cstdio>

struct Plan;

// What became of a frame, or what else the line did, as a record line says it.
namespace Outcome {
inline const QString sent = QStringLiteral("sent");
inline const QString answered = QStringLiteral("answered");
inline const QString noReply = QStringLiteral("no-reply");
// The reply of a frame whose wait had run out, come before the next frame went.
inline const QString late = QStringLiteral("late");
inline const QString lineFault = QStringLiteral("line-fault");
inline const QString notSent = QStringLiteral("not-sent");
inline const QString stopped = QStringLiteral("stopped");
inline const QString skipped = QStringLiteral("skipped");
inline const QString stray = QStringLiteral("stray");
inline const QString unasked = QStringLiteral("unasked");
} // namespace Outcome

// One line of a commissioning record; the time, port and settings are added as it is written.
struct RecordLine {
  int planLine = 0;
  QString address;
  QString command; // a command word; empty for what belongs to no command
  QByteArray frame;
  QByteArray reply;
  QString outcome;
  QString detail;
};

// The record of a commissioning run, appended to line by line: CSV with a header, or one JSON
// object a line. Each line is on the disk before append returns, so that a pulled cable, Ctrl+C
// or a power cut loses at most the line being written.
class RecordFile {
public:
  RecordFile(const QString &path, bool json);
  ~RecordFile();
  RecordFile(const RecordFile &) = delete;
  RecordFile &operator=(const RecordFile &) = delete;

  const QString &path() const { return path_; }
  // Opens for appending; a new or empty file gets the CSV header first. Empty, or the problem.
  QString open();
  void setLine(const QString &port, const QString &settings);
  // Empty once the line is on the disk, or the problem.
  QString append(const RecordLine &line);

private:
  QString writeAndSync(const QByteArray &bytes);

  QString path_;
  bool json_;
  std::FILE *file_ = nullptr;
  QString port_;
  QString settings_;
};

// What an earlier run's record says, checked against the plan it is to go on with.
struct RecordRead {
  QSet<QString> answered; // answeredKey of every command the record shows answered
  QString problem;        // why the record cannot be gone on with; empty when it can
  qint64 wholeBytes = 0;  // the size up to its last complete line
  QString unfinished;     // a last line cut short, which the next run writes over
};
// json says in which form the run goes on writing it; a record in the other is refused.
RecordRead readRecord(const QString &path, const Plan &plan, bool json);

QString answeredKey(int planLine, const QString &command);

// The plan's name with .record.csv, or .record.jsonl for JSON lines, in the plan's folder.
QString defaultRecordPath(const QString &planPath, bool json);
