#include "common/record.h"

#include "common/csv.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr std::array outcomeWords{u"sent",       u"answered", u"no-reply", u"late",
                                  u"line-fault", u"not-sent", u"stopped",  u"skipped",
                                  u"stray",      u"unasked",  u"started"};
static_assert(outcomeWords.size() == size_t(Outcome::started) + 1);

// A JSON record tells of a run in a line of its own shape, so that a script reading the
// outcomes of frames meets no new outcome.
const QString runKey = QStringLiteral("run");

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// A spreadsheet evaluates a cell that starts with one of these (a reply "=1+2" would become 3);
// a leading ' keeps it text, and is added to a cell that starts with one so that reading
// takes off exactly what writing put on.
bool needsQuoteMark(QStringView cell) {
  return !cell.isEmpty() && QStringView(u"=+-@\t\r'").contains(cell.front());
}

// A line feed would end the row for the readers of a record, which read it line by line.
QString csvCell(const QString &value) {
  QString cell = value;
  cell.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(u'\n', u' ');
  return needsQuoteMark(cell) ? u'\'' + cell : cell;
}

// Lines of a plan count from 1; an empty cell is a line of no plan.
bool isLineNumber(const QString &value) {
  bool ok = false;
  return value.isEmpty() || (value.toInt(&ok) > 0 && ok && value.front().isDigit());
}

// The program and version a run writes in its first line.
QString runningProgram() {
  return QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(),
                                     QStringLiteral(QELNOR_VERSION));
}

// Whether the record is a file on a disk: a pipe, a terminal or a device such as /dev/null has
// nothing to sync, and syncing one fails.
bool isDiskFile(std::FILE *file) {
#ifdef Q_OS_WIN
  return GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) == FILE_TYPE_DISK;
#else
  struct stat status {};
  return ::fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
#endif
}

std::optional<QStringList> jsonLineValues(QStringView text) {
  const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
  if (!document.isObject())
    return std::nullopt;
  const QJsonObject object = document.object();
  QStringList values(RecordColumn::count);
  if (object.contains(runKey) && !object.contains(recordColumns()[RecordColumn::outcome])) {
    values[RecordColumn::time] = object.value(recordColumns()[RecordColumn::time]).toString();
    values[RecordColumn::outcome] = outcomeWord(Outcome::started);
    values[RecordColumn::detail] = object.value(runKey).toString();
    return values;
  }
  for (qsizetype i = 0; i < RecordColumn::count; ++i)
    values[i] = object.value(recordColumns()[i]).toVariant().toString();
  return values;
}

} // namespace

QString outcomeWord(Outcome outcome) { return QString::fromUtf16(outcomeWords[size_t(outcome)]); }

std::optional<Outcome> outcomeFromWord(QStringView word) {
  for (size_t i = 0; i < outcomeWords.size(); ++i)
    if (word == QStringView(outcomeWords[i]))
      return Outcome(i);
  return std::nullopt;
}

const QStringList &recordColumns() {
  static const QStringList columns{
      QStringLiteral("time"),      QStringLiteral("line"),      QStringLiteral("address"),
      QStringLiteral("port"),      QStringLiteral("settings"),  QStringLiteral("command"),
      QStringLiteral("frame_hex"), QStringLiteral("reply_hex"), QStringLiteral("reply_text"),
      QStringLiteral("outcome"),   QStringLiteral("detail")};
  return columns;
}

QString recordTime(const QDateTime &time) {
  const int offset = time.offsetFromUtc();
  const int minutes = qAbs(offset) / 60;
  return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
         QStringLiteral("%1%2:%3")
             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString recordHex(QByteArrayView bytes) {
  return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

QString recordLineText(const QStringList &values, bool json) {
  if (!json) {
    QStringList cells;
    for (const QString &value : values)
      cells.append(csvCell(value));
    return csvLine(cells);
  }
  QJsonObject object;
  if (values[RecordColumn::outcome] == outcomeWord(Outcome::started)) {
    object.insert(recordColumns()[RecordColumn::time], values[RecordColumn::time]);
    object.insert(runKey, values[RecordColumn::detail]);
  } else {
    for (qsizetype i = 0; i < RecordColumn::count; ++i)
      object.insert(recordColumns()[i], values[i]);
    const QString &line = values[RecordColumn::line];
    object.insert(recordColumns()[RecordColumn::line],
                  line.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(line.toInt()));
  }
  return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::optional<QStringList> recordLineValues(QStringView text, bool json) {
  std::optional<QStringList> values = json ? jsonLineValues(text) : csvFields(text);
  if (!values || values->size() != RecordColumn::count)
    return std::nullopt;
  if (!json)
    for (QString &value : *values)
      if (value.startsWith(u'\''))
        value.remove(0, 1);
  if (!outcomeFromWord(values->at(RecordColumn::outcome)) ||
      !isLineNumber(values->at(RecordColumn::line)))
    return std::nullopt;
  return values;
}

bool mayAppendRecord(const QString &path, bool json) {
  const QFileInfo info(path);
  QFile file(path);
  // A file that cannot be read here is told why by the opening for writing.
  if (!info.isFile() || info.size() == 0 || !file.open(QIODevice::ReadOnly))
    return true;
  constexpr qint64 longestFirstLine = 64 * 1024;
  QByteArray first = file.readLine(longestFirstLine);
  if (first.startsWith("\xEF\xBB\xBF"))
    first.remove(0, 3);
  const QString line = QString::fromUtf8(first).trimmed();
  return json ? recordLineValues(line, true).has_value() : line == csvLine(recordColumns());
}

RecordFile::RecordFile(const QString &path, bool json) : path_(path), json_(json) {}

RecordFile::~RecordFile() {
  if (file_)
    std::fclose(file_);
}

QString RecordFile::open() {
#ifdef Q_OS_WIN
  file_ = _wfopen(reinterpret_cast<const wchar_t *>(path_.utf16()), L"ab");
#else
  file_ = std::fopen(QFile::encodeName(path_).constData(), "ab");
#endif
  if (!file_)
    return QStringLiteral("无法写入记录 Cannot write the record %1: %2").arg(path_, systemError());
  sync_ = isDiskFile(file_);
  if (!json_ && QFileInfo(path_).size() == 0) {
    // Spreadsheets read a CSV file without this mark in the PC's code page, not as UTF-8.
    const QString header = csvLine(recordColumns()) + QStringLiteral("\r\n");
    if (const QString problem = writeAndSync("\xEF\xBB\xBF" + header.toUtf8()); !problem.isEmpty())
      return problem;
  }
  RecordLine run;
  run.outcome = Outcome::started;
  run.detail = runningProgram();
  return append(run);
}

void RecordFile::setLine(const QString &port, const QString &settings) {
  port_ = port;
  settings_ = settings;
}

QString RecordFile::append(const RecordLine &line) {
  QStringList values(RecordColumn::count);
  values[RecordColumn::time] = recordTime(QDateTime::currentDateTime());
  values[RecordColumn::line] = line.planLine > 0 ? QString::number(line.planLine) : QString();
  values[RecordColumn::address] = line.address;
  if (line.outcome != Outcome::started) {
    values[RecordColumn::port] = port_;
    values[RecordColumn::settings] = settings_;
  }
  values[RecordColumn::command] = line.command;
  values[RecordColumn::frameHex] = recordHex(line.frame);
  values[RecordColumn::replyHex] = recordHex(line.reply);
  values[RecordColumn::replyText] = line.replyText;
  values[RecordColumn::outcome] = outcomeWord(line.outcome);
  values[RecordColumn::detail] = line.detail;
  return writeAndSync(recordLineText(values, json_).toUtf8() + (json_ ? "\n" : "\r\n"));
}

QString RecordFile::writeAndSync(const QByteArray &bytes) {
  if (!file_)
    return QStringLiteral("记录未打开 The record %1 is not open.").arg(path_);
  const bool written =
      std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file_) == size_t(bytes.size()) &&
      std::fflush(file_) == 0;
#ifdef Q_OS_WIN
  const bool synced = written && (!sync_ || _commit(_fileno(file_)) == 0);
#else
  const bool synced = written && (!sync_ || ::fsync(fileno(file_)) == 0);
#endif
  if (synced)
    return {};
  return QStringLiteral("记录写入失败 The record %1 could not be written: %2")
      .arg(path_, systemError());
}
