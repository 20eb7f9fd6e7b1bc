#include "support/told.h"

#include <QJsonDocument>
#include <QVariant>

QList<QJsonObject> jsonLines(const QByteArray &text) {
  QList<QJsonObject> objects;
  for (const QByteArray &line : text.split('\n'))
    if (const QJsonObject object = QJsonDocument::fromJson(line).object(); !object.isEmpty())
      objects.append(object);
  return objects;
}

QStringList fieldsOf(const QList<QJsonObject> &objects, const QStringList &fields,
                     const QString &kind) {
  QStringList lines;
  for (const QJsonObject &object : objects) {
    const QJsonValue first = object.value(fields.first());
    if (first.isUndefined() || first.isNull() || (!kind.isEmpty() && object.value("event") != kind))
      continue;
    QStringList values;
    for (const QString &field : fields) {
      const QJsonValue value = object.value(field);
      values.append(value.isArray() ? value.toVariant().toStringList().join(',')
                                    : value.toVariant().toString());
    }
    lines.append(values.join(' '));
  }
  return lines;
}

QStringList answered(const QString &line, const QString &command) {
  return {line + " " + command + " sent", line + " " + command + " answered"};
}
