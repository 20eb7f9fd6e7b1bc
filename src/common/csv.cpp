#include "common/csv.h"

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

// Quotes are read strictly: a quote inside an unquoted cell, or text after a closing quote,
// could be meant either way, and a plan cell read the wrong way sends another code.
const QString quoteInsideCell =
    QStringLiteral("引号只能括住整个单元格。A quote may only enclose a whole cell: put the cell in "
                   "quotes and double the quote inside.");
const QString textAfterQuote = QStringLiteral(
    "右引号后还有内容。Text follows a closing quote: the quotes must enclose the whole cell.");
const QString quoteNotClosed = QStringLiteral("引号未闭合。A quote is not closed.");

} // namespace

CsvRow csvRow(QStringView line) {
  // The carriage return of a CRLF line end, when the line was cut at its line feed.
  if (line.endsWith(u'\r'))
    line.chop(1);
  CsvRow row;
  const qsizetype end = line.size();
  qsizetype i = 0;
  const auto fail = [&](qsizetype at, const QString &problem) {
    row.badColumn = at + 1;
    row.problem = problem;
    return row;
  };
  while (true) {
    while (i < end && isBlank(line[i]))
      ++i;
    QString field;
    if (i < end && line[i] == u'"') {
      const qsizetype opening = i++;
      while (true) {
        if (i == end)
          return fail(opening, quoteNotClosed);
        if (line[i] == u'"') {
          if (i + 1 < end && line[i + 1] == u'"') {
            field += u'"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += line[i++];
      }
      while (i < end && isBlank(line[i]))
        ++i;
      if (i < end && line[i] != u',')
        return fail(i, textAfterQuote);
    } else {
      const qsizetype start = i;
      while (i < end && line[i] != u',') {
        if (line[i] == u'"')
          return fail(i, quoteInsideCell);
        ++i;
      }
      qsizetype last = i;
      while (last > start && isBlank(line[last - 1]))
        --last;
      field = line.sliced(start, last - start).toString();
    }
    row.fields.append(field);
    if (i == end)
      return row;
    ++i; // the comma
  }
}

std::optional<QStringList> csvFields(QStringView line) {
  CsvRow row = csvRow(line);
  if (row.badColumn != 0)
    return std::nullopt;
  return row.fields;
}

QString csvLine(const QStringList &fields) {
  QStringList written;
  for (const QString &field : fields) {
    const bool quoted = field.contains(u',') || field.contains(u'"') || field.contains(u'\r') ||
                        field.contains(u'\n') ||
                        (!field.isEmpty() && (isBlank(field.front()) || isBlank(field.back())));
    if (quoted)
      written.append(u'"' + QString(field).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
                     u'"');
    else
      written.append(field);
  }
  return written.join(u',');
}
