#pragma once

#include <QJsonObject>
#include <QList>
#include <QStringList>

// The JSON object of each line a program wrote: its events, or the lines of a JSON record.
QList<QJsonObject> jsonLines(const QByteArray &text);
// Those that have a value for the first field named and, unless kind is empty, are events of that
// kind, each as the values of the fields named joined by spaces (an array's items by commas).
QStringList fieldsOf(const QList<QJsonObject> &objects, const QStringList &fields,
                     const QString &kind = {});

// The record lines of a command sent and answered, as "line command outcome".
QStringList answered(const QString &line, const QString &command);
