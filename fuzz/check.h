#pragma once

#include "device/failure.h"

#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <optional>

// A property the fuzz target holds the code to. A violation aborts, so that libFuzzer keeps
// the input that caused it, and says what went wrong.
#define FUZZ_CHECK(condition, detail)                                                              \
  do {                                                                                             \
    if (!(condition))                                                                              \
      fuzzCheckFailed(#condition, (detail), __FILE__, __LINE__);                                   \
  } while (false)

[[noreturn]] inline void fuzzCheckFailed(const char *condition, const QString &detail,
                                         const char *file, int line) {
  std::fprintf(stderr, "%s:%d: violated: %s\n  %s\n", file, line, condition,
               detail.toUtf8().constData());
  std::abort();
}

// The number of the Failure that work raised, or nothing when it returned normally. Any other
// exception escapes and ends the run, as it would end the program.
template <typename Work> std::optional<int> failureNumberOf(Work work) {
  try {
    work();
  } catch (const Failure &failure) {
    return failure.number();
  }
  return std::nullopt;
}

// Text for a message as UTF-16 code units in hex, so that invisible characters and lone
// surrogates can be told apart.
inline QString codeUnits(QStringView text) {
  QStringList units;
  for (QChar c : text)
    units << QStringLiteral("%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
  return QStringLiteral("[%1]").arg(units.join(QLatin1Char(' ')));
}
