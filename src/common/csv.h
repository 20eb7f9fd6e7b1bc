#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Comma-separated values as spreadsheets write them. Blanks (spaces and tabs) around a cell are
// not part of it; a cell in double quotes keeps everything between them, commas and doubled
// quotes included. One line is one row: a cell never spans lines here, since nothing the
// device takes holds a line break. A line may still end in the CR of a CRLF line end.

struct CsvRow {
  QStringList fields;
  // Where the line stops being CSV, as a column counted in characters from 1, and why (in both
  // languages); 0 and empty when the whole line was read.
  qsizetype badColumn = 0;
  QString problem;
};

CsvRow csvRow(QStringView line);

// The fields of one line, or nothing when it is not CSV.
std::optional<QStringList> csvFields(QStringView line);

// One row, each field quoted only where it has to be so that it reads back unchanged; no line
// end.
QString csvLine(const QStringList &fields);
