#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>

// What became of a frame, or what else the line did. A record writes each as its word (sent,
// no-reply, ...), which scripts and --resume read.
enum class Outcome {
  sent,      // the frame has left whole
  answered,  // its reply came within the wait
  noReply,   // the wait ran out without a reply
  late,      // its reply came after the wait had run out: never taken as answered
  lineFault, // the line failed
  notSent,   // the frame could not leave and was given up whole
  stopped,   // the run was stopped while the reply was awaited
  skipped,   // the operator skipped the device
  stray,     // bytes that were no reply
  unasked,   // a reply while no frame was awaited
  started,   // a program began a run on the record
};
QString outcomeWord(Outcome outcome);
std::optional<Outcome> outcomeFromWord(QStringView word);

// The columns of a record, in the order a CSV record holds them, as indexes into its values.
namespace RecordColumn {
enum : qsizetype {
  time,
  line,
  address,
  port,
  settings,
  command,
  frameHex,
  replyHex,
  replyText,
  outcome,
  detail,
  count
};
}
// Their names, as the CSV header and the JSON keys have them.
const QStringList &recordColumns();

// The time column: the local time to the millisecond with its offset from UTC, which is
// written out also when it is +00:00.
QString recordTime(const QDateTime &time);

// Bytes as the record's hex columns have them: "49 44 30 31 0D".
QString recordHex(QByteArrayView bytes);

// One line of a record without its line end, from its values in column order. A CSV cell that a
// spreadsheet would take for a formula is written with a leading ' so that it stays text.
QString recordLineText(const QStringList &values, bool json);

// The values of one line of a record in column order, as they were before being written; nothing
// for a line that is none of a record's (the CSV header included). A JSON line that tells of a
// run reads as a line with the outcome started and the program in detail.
std::optional<QStringList> recordLineValues(QStringView text, bool json);

// Whether a run may append its lines to the file at path in the given form: the file is missing,
// empty or no file on a disk, or it begins as such a record does. Anything else (a plan named by
// mistake, a record in the other form) is never written to.
bool mayAppendRecord(const QString &path, bool json);

// One line of a record; the time, port and settings are added as it is written.
struct RecordLine {
  int planLine = 0; // the plan's line, or 0 when the run has no plan
  QString address;
  QString command; // a command word; empty for what belongs to no command
  QByteArray frame;
  QByteArray reply;
  QString replyText; // the reply as the operator is shown it; empty for bytes not shown as one
  Outcome outcome = Outcome::sent;
  QString detail;
};

// The record of a run, appended to line by line: UTF-8 CSV with a byte-order mark, a header and
// CRLF line ends, which spreadsheets open as written, or one JSON object a line. Each line is on
// the disk before append returns, so that a pulled cable, Ctrl+C or a power cut loses at most
// the line being written. One program writes it at a time.
class RecordFile {
public:
  RecordFile(const QString &path, bool json);
  ~RecordFile();
  RecordFile(const RecordFile &) = delete;
  RecordFile &operator=(const RecordFile &) = delete;

  const QString &path() const { return path_; }
  // Opens for appending and writes the run's first line (a new CSV record gets its header
  // before it), so that a record that cannot be kept is known before anything is sent. Empty,
  // or the problem. A pipe or terminal takes the lines as they come, with nothing to sync.
  QString open();
  void setLine(const QString &port, const QString &settings);
  // Empty once the line is on the disk, or the problem.
  QString append(const RecordLine &line);

private:
  QString writeAndSync(const QByteArray &bytes);

  QString path_;
  bool json_;
  std::FILE *file_ = nullptr;
  bool sync_ = true;
  QString port_;
  QString settings_;
};
