#include "cli/plan.h"

#include "cli/csv.h"
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

QString where(int line, const QString &column = {}) {
  if (column.isEmpty())
    return QStringLiteral("第 %1 行 Line %1: ").arg(line);
  return QStringLiteral("第 %1 行 %2 列 Line %1, column %2: ").arg(line).arg(column);
}

// A spreadsheet saves in UTF-8 or, on a Chinese Windows, in GBK; anything else is named
// rather than guessed at, since a wrong guess would send another user code.
std::optional<QString> planText(QByteArray bytes, QString *problem) {
  if (bytes.startsWith("\xEF\xBB\xBF")) {
    bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
      return text;
    *problem = QStringLiteral("计划以 UTF-8 标记开头，但内容不是 UTF-8。"
                              "The plan starts with a UTF-8 mark but is not UTF-8 throughout.");
    return std::nullopt;
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8.decode(bytes);
  if (!utf8.hasError())
    return text;
  if (auto gbk = fromCodePage936(bytes))
    return gbk;
  *problem = QStringLiteral("计划既不是 UTF-8 也不是 GBK，请另存为 UTF-8。"
                            "The plan is neither UTF-8 nor GBK; save it as UTF-8.");
  return std::nullopt;
}

bool blank(const QStringList &fields) {
  for (const QString &field : fields)
    if (!field.trimmed().isEmpty())
      return false;
  return true;
}

// A switch column: yes, no, or empty for no.
std::optional<bool> yesNo(const QString &cell) {
  const QString word = cell.trimmed().toLower();
  if (word.isEmpty() || word == QLatin1String("no"))
    return false;
  if (word == QLatin1String("yes"))
    return true;
  return std::nullopt;
}

// The column names of the header, or a problem for each that is unknown or repeated.
QHash<QString, qsizetype> columnsOf(const QStringList &header, int line, QStringList &problems) {
  static const QStringList known{addressColumn, userCodeColumn, powerOnColumn, resetColumn};
  QHash<QString, qsizetype> columns;
  for (qsizetype i = 0; i < header.size(); ++i) {
    const QString name = header[i].trimmed().toLower();
    if (!known.contains(name))
      problems.append(where(line) + QStringLiteral("未知的列 unknown column “%1”; the columns are "
                                                   "%2.")
                                        .arg(header[i], known.join(QStringLiteral(", "))));
    else if (columns.contains(name))
      problems.append(where(line) + QStringLiteral("列 column “%1” 重复 appears twice.").arg(name));
    else
      columns.insert(name, i);
  }
  if (problems.isEmpty() && !columns.contains(addressColumn))
    problems.append(where(line) + QStringLiteral("缺少 address 列。The header has no address "
                                                 "column."));
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

Plan planFromBytes(const QByteArray &bytes, bool allowRepeats) {
  Plan plan;
  QString problem;
  const auto text = planText(bytes, &problem);
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
    const auto fields = csvFields(line);
    if (!fields) {
      plan.problems.append(where(number) + QStringLiteral("引号未闭合。A quote is not closed."));
      continue;
    }
    if (blank(*fields))
      continue;
    if (!columns) {
      columns = columnsOf(*fields, number, plan.problems);
      continue;
    }
    PlanRow row;
    row.line = number;
    const auto cell = [&](const QString &column) {
      return fields->value(columns->value(column, -1));
    };
    if (fields->size() > qsizetype(columns->size()) && !blank(fields->mid(columns->size())))
      plan.problems.append(where(number) + QStringLiteral("字段多于表头。More fields than the "
                                                          "header names."));
    addFrame(row, Command::Address, cell(addressColumn), addressColumn, plan.problems);
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

Plan readPlan(const QString &path, bool allowRepeats) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    Plan plan;
    plan.problems.append(
        QStringLiteral("无法读取计划 Cannot read the plan %1: %2").arg(path, file.errorString()));
    return plan;
  }
  return planFromBytes(file.readAll(), allowRepeats);
}
