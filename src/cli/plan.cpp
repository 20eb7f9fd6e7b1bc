#include "cli/plan.h"

#include "cli/session.h"
#include "common/csv.h"
#include "device/codepage.h"
#include "device/failure.h"

#include <QFile>
#include <QHash>
#include <QStringDecoder>

namespace {

const QString addressColumn = QStringLiteral("address");
const QString userCodeColumn = QStringLiteral("user_code");
const QString powerOnColumn = QStringLiteral("power_on_password");
const QString resetColumn = QStringLiteral("reset_password");
const QStringList knownColumns{addressColumn, userCodeColumn, powerOnColumn, resetColumn};

QString where(int line, const QString &column = {}) {
  if (column.isEmpty())
    return QStringLiteral("第 %1 行 Line %1: ").arg(line);
  return QStringLiteral("第 %1 行 %2 列 Line %1, column %2: ").arg(line).arg(column);
}

QString atCharacter(int line, qsizetype character) {
  return QStringLiteral("第 %1 行第 %2 个字符 Line %1, character %2: ").arg(line).arg(character);
}

QString encodingName(PlanEncoding encoding) {
  return encoding == PlanEncoding::Gbk ? QStringLiteral("GBK") : QStringLiteral("UTF-8");
}

std::optional<QString> decodedStrictly(QByteArrayView bytes, QStringConverter::Encoding encoding) {
  QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
  const QString text = decoder.decode(bytes);
  if (decoder.hasError())
    return std::nullopt;
  return text;
}

std::optional<QString> decodedAs(QByteArrayView bytes, PlanEncoding encoding) {
  if (encoding == PlanEncoding::Gbk)
    return fromCodePage936(bytes);
  return decodedStrictly(bytes, QStringConverter::Utf8);
}

// The first line that is no text in encoding. A line feed is never part of a character in
// UTF-8 or GBK, so that each line can be decoded on its own.
QString notText(const QByteArray &bytes, PlanEncoding encoding) {
  const QList<QByteArray> lines = bytes.split('\n');
  for (qsizetype i = 0; i < lines.size(); ++i)
    if (!decodedAs(lines[i], encoding))
      return where(int(i + 1)) + QStringLiteral("不是 %1 文本。The plan is not %1 text here.")
                                     .arg(encodingName(encoding));
  return QStringLiteral("计划不是 %1 文本。The plan is not %1 text.").arg(encodingName(encoding));
}

// Where a plan that is valid text both in UTF-8 and in GBK first reads differently, with the
// line in both readings, so that the operator sees which one the spreadsheet meant.
QString twoReadings(const QString &utf8, const QString &gbk) {
  const QStringList utf8Lines = utf8.split(u'\n');
  const QStringList gbkLines = gbk.split(u'\n');
  qsizetype line = 0;
  while (line + 1 < utf8Lines.size() && utf8Lines[line] == gbkLines.value(line))
    ++line;
  const QString &first = utf8Lines[line];
  const QString &second = gbkLines.value(line);
  qsizetype same = 0;
  while (same < first.size() && same < second.size() && first[same] == second[same])
    ++same;
  const auto shown = [](QString text) { return text.endsWith(u'\r') ? text.chopped(1) : text; };
  return atCharacter(int(line + 1), QStringView(first).first(same).toUcs4().size() + 1) +
         QStringLiteral("计划既可读作 UTF-8 也可读作 GBK，但内容不同；请用 --encoding utf-8 或 "
                        "--encoding gbk 指明。The plan reads as UTF-8 and as GBK, with different "
                        "text; say which it is with --encoding utf-8 or --encoding gbk.\n"
                        "  UTF-8: %1\n  GBK:   %2")
             .arg(shown(first), shown(second));
}

qsizetype codeUnitSize(QStringConverter::Encoding encoding) {
  switch (encoding) {
  case QStringConverter::Utf16:
  case QStringConverter::Utf16LE:
  case QStringConverter::Utf16BE:
    return 2;
  case QStringConverter::Utf32:
  case QStringConverter::Utf32LE:
  case QStringConverter::Utf32BE:
    return 4;
  default:
    return 1;
  }
}

// A spreadsheet saves in UTF-8 or, on a Chinese Windows, in GBK, or as "Unicode text" with a
// byte-order mark. Nothing is guessed: where the bytes are text both in UTF-8 and in GBK and
// the two differ, a wrong guess would send another user code.
std::optional<QString> planText(const QByteArray &bytes, PlanEncoding encoding, QString *problem) {
  if (const auto marked = QStringConverter::encodingForData(bytes)) {
    const QString name = QString::fromLatin1(QStringConverter::nameForEncoding(*marked));
    if (encoding == PlanEncoding::Gbk ||
        (encoding == PlanEncoding::Utf8 && *marked != QStringConverter::Utf8)) {
      *problem = QStringLiteral("计划以 %1 标记开头，与 --encoding %2 不符。The plan starts "
                                "with the mark of %1, not of --encoding %2.")
                     .arg(name, encodingName(encoding));
      return std::nullopt;
    }
    // Qt's decoder takes a lone last byte of UTF-16 for a character it cannot read, without
    // an error.
    if (bytes.size() % codeUnitSize(*marked) == 0)
      if (auto text = decodedStrictly(bytes, *marked))
        return text;
    *problem = QStringLiteral("计划以 %1 标记开头，但内容不是 %1。The plan starts with the mark of "
                              "%1 but is not %1 throughout.")
                   .arg(name);
    return std::nullopt;
  }
  if (encoding != PlanEncoding::Detect) {
    if (auto text = decodedAs(bytes, encoding))
      return text;
    *problem = notText(bytes, encoding);
    return std::nullopt;
  }
  const auto utf8 = decodedAs(bytes, PlanEncoding::Utf8);
  const auto gbk = decodedAs(bytes, PlanEncoding::Gbk);
  if (utf8 && gbk && *utf8 != *gbk) {
    *problem = twoReadings(*utf8, *gbk);
    return std::nullopt;
  }
  if (utf8)
    return utf8;
  if (gbk)
    return gbk;
  *problem = QStringLiteral("计划既不是 UTF-8 也不是 GBK，请另存为 UTF-8。"
                            "The plan is neither UTF-8 nor GBK; save it as UTF-8.");
  return std::nullopt;
}

bool blank(const QStringList &fields) {
  for (const QString &field : fields)
    if (!field.isEmpty())
      return false;
  return true;
}

// A switch column: yes, no, or empty for no.
std::optional<bool> yesNo(const QString &cell) {
  const QString word = cell.toLower();
  if (word.isEmpty() || word == QLatin1String("no"))
    return false;
  if (word == QLatin1String("yes"))
    return true;
  return std::nullopt;
}

// The columns the header names, or nothing and the one problem of the header.
std::optional<QHash<QString, qsizetype>> columnsOf(const QStringList &header, QString *problem) {
  QHash<QString, qsizetype> columns;
  QStringList unknown;
  QStringList repeated;
  for (qsizetype i = 0; i < header.size(); ++i) {
    const QString name = header[i].toLower();
    if (!knownColumns.contains(name))
      unknown.append(QStringLiteral("“%1”").arg(header[i]));
    else if (columns.contains(name))
      repeated.append(QStringLiteral("“%1”").arg(name));
    else
      columns.insert(name, i);
  }
  if (!unknown.isEmpty())
    *problem =
        QStringLiteral("未知的列 unknown column%1 %2; the columns are %3.")
            .arg(unknown.size() > 1 ? QStringLiteral("s") : QString(),
                 unknown.join(QStringLiteral(", ")), knownColumns.join(QStringLiteral(", ")));
  else if (!repeated.isEmpty())
    *problem = QStringLiteral("列重复 column %1 appears twice.").arg(repeated.join(", "));
  else if (!columns.contains(addressColumn))
    *problem = QStringLiteral("缺少 address 列。The header has no address column.");
  if (!problem->isEmpty())
    return std::nullopt;
  return columns;
}

// The frame of one cell by the single command's rules, or its refusal added to problems.
void addFrame(PlanRow &row, Command command, const QString &cell, const QString &column,
              QStringList &problems) {
  Request request;
  request.command = command;
  request.argument = cell;
  try {
    row.commands.append({commandWord(command), commandFrame(request)});
  } catch (const Failure &failure) {
    problems.append(where(row.line, column) +
                    failure.description().split(QLatin1Char('\n')).join(QLatin1Char(' ')));
  }
}

// The window rounds what is typed in its box; in a plan, made ahead and sent to many devices,
// a sign or a fraction is a slip to be shown rather than rounded into another address.
void addAddress(PlanRow &row, const QString &cell, QStringList &problems) {
  for (const QChar c : cell)
    if (QStringView(u"+-.\uFF0B\uFF0D\uFF0E").contains(c)) {
      problems.append(where(row.line, addressColumn) +
                      QStringLiteral("地址应为 0 至 99 的整数，不带符号或小数。The address must be "
                                     "a whole number from 0 to 99, without a sign or a fraction: "
                                     "“%1”")
                          .arg(cell));
      return;
    }
  addFrame(row, Command::Address, cell, addressColumn, problems);
}

void addSwitch(PlanRow &row, Command command, const QString &cell, const QString &column,
               QStringList &problems) {
  const auto on = yesNo(cell);
  if (!on)
    problems.append(where(row.line, column) +
                    QStringLiteral("应为 yes 或 no。Must be yes or no: “%1”").arg(cell));
  else if (*on)
    addFrame(row, command, cell, column, problems);
}

} // namespace

Plan planFromBytes(const QByteArray &bytes, bool allowRepeats, PlanEncoding encoding) {
  Plan plan;
  QString problem;
  const auto text = planText(bytes, encoding, &problem);
  if (!text) {
    plan.problems.append(problem);
    return plan;
  }
  std::optional<QHash<QString, qsizetype>> columns;
  QHash<QString, int> lineOfAddress;
  const QStringList lines = text->split(QLatin1Char('\n'));
  for (int number = 1; number <= lines.size(); ++number) {
    QString line = lines[number - 1];
    if (line.endsWith(QLatin1Char('\r')))
      line.chop(1);
    if (line.trimmed().startsWith(QLatin1Char('#')))
      continue;
    const CsvRow cells = csvRow(line);
    if (cells.badColumn != 0) {
      plan.problems.append(atCharacter(number, cells.badColumn) + cells.problem);
      // Without a header the rows cannot be read: one error, not one for each row.
      if (!columns)
        break;
      continue;
    }
    const QStringList &fields = cells.fields;
    if (blank(fields))
      continue;
    if (!columns) {
      columns = columnsOf(fields, &problem);
      if (!columns) {
        plan.problems.append(where(number) + problem);
        break;
      }
      continue;
    }
    PlanRow row;
    row.line = number;
    const auto cell = [&](const QString &column) {
      return fields.value(columns->value(column, -1));
    };
    if (fields.size() > qsizetype(columns->size()) && !blank(fields.mid(columns->size())))
      plan.problems.append(where(number) + QStringLiteral("字段多于表头。More fields than the "
                                                          "header names."));
    addAddress(row, cell(addressColumn), plan.problems);
    if (!cell(userCodeColumn).isEmpty())
      addFrame(row, Command::UserCode, cell(userCodeColumn), userCodeColumn, plan.problems);
    addSwitch(row, Command::PowerOnLock, cell(powerOnColumn), powerOnColumn, plan.problems);
    addSwitch(row, Command::ResetPassword, cell(resetColumn), resetColumn, plan.problems);
    if (row.commands.isEmpty() || row.commands.first().word != commandWord(Command::Address))
      continue;
    row.address = QString::fromLatin1(row.commands.first().frame.mid(2, 2));
    const int earlier = lineOfAddress.value(row.address);
    if (earlier && !allowRepeats)
      plan.problems.append(where(number, addressColumn) +
                           QStringLiteral("地址 %1 与第 %2 行重复。Address %1 repeats line %2 "
                                          "(--allow-repeats allows it).")
                               .arg(row.address)
                               .arg(earlier));
    else if (!earlier)
      lineOfAddress.insert(row.address, number);
    plan.rows.append(row);
  }
  if (!columns && plan.problems.isEmpty())
    plan.problems.append(QStringLiteral("计划没有表头和设备行。The plan holds no header and no "
                                        "device rows."));
  else if (plan.rows.isEmpty() && plan.problems.isEmpty())
    plan.problems.append(QStringLiteral("计划没有设备行。The plan holds no device rows."));
  if (!plan.problems.isEmpty())
    plan.rows.clear();
  return plan;
}

Plan readPlan(const QString &path, bool allowRepeats, PlanEncoding encoding) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    Plan plan;
    plan.problems.append(
        QStringLiteral("无法读取计划 Cannot read the plan %1: %2").arg(path, file.errorString()));
    return plan;
  }
  return planFromBytes(file.readAll(), allowRepeats, encoding);
}
