#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Comma-separated values as spreadsheets write them: a field in double quotes may hold commas
// and doubled quotes. One line is one row; a field never spans lines here, since nothing the
// device takes holds a line break.

// The fields of one line, or nothing when a quote is left open.
std::optional<QStringList> csvFields(QStringView line);

// One row, each field quoted only where it has to be; no line end.
QString csvLine(const QStringList &fields);
