#include "cli/record.h"

#include "cli/csv.h"
#include "cli/events.h"
#include "cli/plan.h"
#include "device/replytext.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

const QStringList columns{
    QStringLiteral("time"),      QStringLiteral("line"),      QStringLiteral("address"),
    QStringLiteral("port"),      QStringLiteral("settings"),  QStringLiteral("command"),
    QStringLiteral("frame_hex"), QStringLiteral("reply_hex"), QStringLiteral("reply_text"),
    QStringLiteral("outcome"),   QStringLiteral("detail")};

// The local time with its offset from UTC, so that records from sites in other zones compare.
QString timeWithZone() {
  const QDateTime now = QDateTime::currentDateTime();
  return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString systemError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// The fields of one record line by column name, from CSV or JSON; nothing for a malformed line.
std::optional<QHash<QString, QString>> recordFields(const QString &line, bool json) {
  QHash<QString, QString> fields;
  if (json) {
    const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
    if (!document.isObject())
      return std::nullopt;
    const QJsonObject object = document.object();
    for (const QString &column : columns)
      fields.insert(column, object.value(column).toVariant().toString());
    return fields;
  }
  const auto values = csvFields(line);
  if (!values || values->size() != columns.size())
    return std::nullopt;
  for (qsizetype i = 0; i < columns.size(); ++i)
    fields.insert(columns[i], values->at(i));
  return fields;
}

// Why a record line cannot come from this plan, or nothing when it can.
QString foreignLine(const QHash<QString, QString> &fields,
                    const QHash<int, const PlanRow *> &rows) {
  const PlanRow *row = rows.value(fields.value(QStringLiteral("line")).toInt());
  if (!row || row->address != fields.value(QStringLiteral("address")))
    return QStringLiteral("计划中没有第 %1 行、地址 %2。The plan has no line %1 with address %2.")
        .arg(fields.value(QStringLiteral("line")), fields.value(QStringLiteral("address")));
  const QString command = fields.value(QStringLiteral("command"));
  const QString frame = fields.value(QStringLiteral("frame_hex"));
  if (command.isEmpty())
    return {};
  for (const PlanCommand &planned : row->commands)
    if (planned.word == command && hexBytes(planned.frame) == frame)
      return {};
  return QStringLiteral("计划第 %1 行不发送 %2 %3。Line %1 of the plan does not send %2 %3.")
      .arg(row->line)
      .arg(command, frame);
}

} // namespace

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
  if (json_ || QFileInfo(path_).size() > 0)
    return {};
  return writeAndSync((csvLine(columns) + QLatin1Char('\n')).toUtf8());
}

void RecordFile::setLine(const QString &port, const QString &settings) {
  port_ = port;
  settings_ = settings;
}

QString RecordFile::append(const RecordLine &line) {
  const QString replyShown = line.outcome == Outcome::stray ? QString() : replyText(line.reply);
  const QStringList values{timeWithZone(),
                           QString::number(line.planLine),
                           line.address,
                           port_,
                           settings_,
                           line.command,
                           hexBytes(line.frame),
                           hexBytes(line.reply),
                           line.reply.isEmpty() ? QString() : replyShown,
                           line.outcome,
                           line.detail};
  if (!json_)
    return writeAndSync((csvLine(values) + QLatin1Char('\n')).toUtf8());
  QJsonObject object;
  for (qsizetype i = 0; i < columns.size(); ++i)
    object.insert(columns[i], i == 1 ? QJsonValue(line.planLine) : QJsonValue(values[i]));
  return writeAndSync(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

QString RecordFile::writeAndSync(const QByteArray &bytes) {
  const bool written =
      std::fwrite(bytes.constData(), 1, size_t(bytes.size()), file_) == size_t(bytes.size()) &&
      std::fflush(file_) == 0;
#ifdef Q_OS_WIN
  const bool synced = written && _commit(_fileno(file_)) == 0;
#else
  const bool synced = written && ::fsync(fileno(file_)) == 0;
#endif
  if (synced)
    return {};
  return QStringLiteral("记录写入失败 The record %1 could not be written: %2")
      .arg(path_, systemError());
}

RecordRead readRecord(const QString &path, const Plan &plan, bool json) {
  RecordRead read;
  QFile file(path);
  if (!file.exists())
    return read;
  if (!file.open(QIODevice::ReadOnly)) {
    read.problem =
        QStringLiteral("无法读取记录 Cannot read the record %1: %2").arg(path, file.errorString());
    return read;
  }
  const QByteArray bytes = file.readAll();
  read.wholeBytes = bytes.lastIndexOf('\n') + 1;
  read.unfinished = QString::fromUtf8(bytes.mid(read.wholeBytes));
  QHash<int, const PlanRow *> rows;
  for (const PlanRow &row : plan.rows)
    rows.insert(row.line, &row);
  const QList<QByteArray> lines = bytes.first(read.wholeBytes).split('\n');
  if (!bytes.isEmpty() && bytes.startsWith('{') != json) {
    read.problem = json ? QStringLiteral("记录 %1 是 CSV，请去掉 --json。The record %1 is CSV: go "
                                         "on without --json.")
                              .arg(path)
                        : QStringLiteral("记录 %1 是 JSON 行，请加 --json。The record %1 holds "
                                         "JSON lines: go on with --json.")
                              .arg(path);
    return read;
  }
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString line = QString::fromUtf8(lines[i]);
    if (line.isEmpty() || (!json && i == 0 && line == csvLine(columns)))
      continue;
    const auto fields = recordFields(line, json);
    const QString foreign = fields ? foreignLine(*fields, rows)
                                   : QStringLiteral("不是本程序的记录行。"
                                                    "Not a line of this program's record.");
    if (!foreign.isEmpty()) {
      read.problem = QStringLiteral("记录 %1 第 %2 行不属于此计划 Line %2 of the record %1 does "
                                    "not belong to this plan: %3")
                         .arg(path)
                         .arg(i + 1)
                         .arg(foreign);
      return read;
    }
    if (fields->value(QStringLiteral("outcome")) == Outcome::answered)
      read.answered.insert(answeredKey(fields->value(QStringLiteral("line")).toInt(),
                                       fields->value(QStringLiteral("command"))));
  }
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
