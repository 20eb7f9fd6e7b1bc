#include "cli/csv.h"

std::optional<QStringList> csvFields(QStringView line) {
  QStringList fields;
  QString field;
  bool quoted = false;
  for (qsizetype i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (quoted) {
      if (c != u'"')
        field += c;
      else if (i + 1 < line.size() && line[i + 1] == u'"')
        field += line[++i];
      else
        quoted = false;
    } else if (c == u'"') {
      quoted = true;
    } else if (c == u',') {
      fields.append(field);
      field.clear();
    } else {
      field += c;
    }
  }
  if (quoted)
    return std::nullopt;
  fields.append(field);
  return fields;
}

QString csvLine(const QStringList &fields) {
  QStringList written;
  for (const QString &field : fields) {
    if (field.contains(u',') || field.contains(u'"') || field.startsWith(u' ') ||
        field.endsWith(u' '))
      written.append(u'"' + QString(field).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
                     u'"');
    else
      written.append(field);
  }
  return written.join(u',');
}
