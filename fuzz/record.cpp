// Drives the record's lines and the reading of an earlier record: every line written reads back
// as the values it was written from, in both forms, and no CSV cell starts as a formula; reading
// any bytes as the record of a fixed plan either refuses it or finds only that plan's commands
// answered.

#include "cli/record.h"
#include "check.h"
#include "cli/plan.h"
#include "common/csv.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace {

QString shown(const QStringList &values) {
  QStringList shown;
  for (const QString &value : values)
    shown.append(codeUnits(value));
  return shown.join(QLatin1Char(','));
}

// The values a writer could give: any text but line feeds, which a CSV record turns into blanks,
// and a byte-order mark at the start of a value, which Qt's JSON reader drops there.
QStringList valuesFrom(const QString &text, std::uint8_t choice) {
  QStringList values = QString(text).remove(u'\n').split(QChar(1));
  values.resize(RecordColumn::count);
  for (QString &value : values)
    while (value.startsWith(QChar(0xFEFF)))
      value.remove(0, 1);
  const auto outcome = Outcome(choice % (int(Outcome::started) + 1));
  values[RecordColumn::outcome] = outcomeWord(outcome);
  values[RecordColumn::line] = choice & 0x80 ? QString::number(choice) : QString();
  // A JSON record tells of a run by its time and program only.
  if (outcome == Outcome::started)
    for (qsizetype i = 0; i < RecordColumn::count; ++i)
      if (i != RecordColumn::time && i != RecordColumn::outcome && i != RecordColumn::detail)
        values[i].clear();
  return values;
}

void checkLine(const QStringList &values) {
  for (const bool json : {false, true}) {
    const QString line = recordLineText(values, json);
    FUZZ_CHECK(recordLineValues(line, json) == std::optional(values),
               QStringLiteral("%1 written as %2").arg(shown(values), codeUnits(line)));
    if (json)
      continue;
    for (const QString &cell : csvFields(line).value_or(QStringList()))
      FUZZ_CHECK(cell.isEmpty() || !QStringView(u"=+-@\t\r").contains(cell.front()),
                 QStringLiteral("%1 written as %2").arg(shown(values), codeUnits(line)));
  }
}

const Plan &fixedPlan() {
  static const Plan plan = planFromBytes("address,user_code,power_on_password\n1,A,yes\n2,=B,\n"
                                         "# shared\n2,C,yes\n",
                                         true, PlanEncoding::Detect);
  return plan;
}

void checkRead(const QByteArray &bytes, bool json) {
  const RecordRead read = recordFromBytes(bytes, fixedPlan(), json);
  const auto hex = [&] { return QString::fromLatin1(bytes.toHex(' ')); };
  FUZZ_CHECK(read.wholeBytes == bytes.lastIndexOf('\n') + 1, hex());
  if (!read.problem.isEmpty())
    return;
  QSet<QString> planned;
  for (const PlanRow &row : fixedPlan().rows)
    for (const PlanCommand &command : row.commands)
      planned.insert(answeredKey(row.line, command.word));
  for (const QString &key : read.answered)
    FUZZ_CHECK(planned.contains(key),
               hex() + QStringLiteral(": %1 is no command of the plan").arg(key));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
  checkLine(valuesFrom(QString::fromUtf8(bytes), data[0]));
  checkRead(bytes, data[0] & 1);
  return 0;
}
