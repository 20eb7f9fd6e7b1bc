// Drives the CSV reader and writer: a line reads as fields or is refused at a character inside
// it; a line without quotes reads as its comma-separated parts without their blanks; and any
// fields, once written, read back unchanged.

#include "common/csv.h"
#include "check.h"

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace {

QString withoutBlanksAround(QString cell) {
  const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
  while (!cell.isEmpty() && blank(cell.front()))
    cell.remove(0, 1);
  while (!cell.isEmpty() && blank(cell.back()))
    cell.chop(1);
  return cell;
}

QString shown(const QStringList &fields) {
  QStringList shown;
  for (const QString &field : fields)
    shown.append(codeUnits(field));
  return shown.join(QLatin1Char(','));
}

void checkLine(const QString &line) {
  const CsvRow row = csvRow(line);
  FUZZ_CHECK((row.badColumn == 0) == row.problem.isEmpty() && row.badColumn >= 0 &&
                 row.badColumn <= line.size(),
             QStringLiteral("%1: column %2, problem “%3”")
                 .arg(codeUnits(line))
                 .arg(row.badColumn)
                 .arg(row.problem));
  if (row.badColumn != 0)
    return;
  FUZZ_CHECK(
      csvFields(csvLine(row.fields)) == row.fields,
      QStringLiteral("%1 written as %2").arg(shown(row.fields), codeUnits(csvLine(row.fields))));
  if (line.contains(u'"'))
    return;
  QStringList parts = (line.endsWith(u'\r') ? line.chopped(1) : line).split(u',');
  for (QString &part : parts)
    part = withoutBlanksAround(part);
  FUZZ_CHECK(row.fields == parts,
             QStringLiteral("%1 read as %2").arg(codeUnits(line), shown(row.fields)));
}

// Fields that a record or a plan could hold, line breaks and quotes included.
void checkFields(const QStringList &fields) {
  const QString line = csvLine(fields);
  FUZZ_CHECK(csvFields(line) == std::optional(fields),
             QStringLiteral("%1 written as %2").arg(shown(fields), codeUnits(line)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const QString text = QString::fromUtf8(QByteArrayView(data, static_cast<qsizetype>(size)));
  checkLine(text.section(u'\n', 0, 0));
  checkFields(text.split(QChar(1)));
  return 0;
}
