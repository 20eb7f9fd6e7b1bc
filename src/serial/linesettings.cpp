#include "serial/linesettings.h"

#include <QRegularExpression>

namespace {

constexpr qint64 fastestRate = 4'000'000;

std::optional<StopBits> stopBitsFrom(QStringView text) {
  if (text == QLatin1String("1"))
    return StopBits::One;
  if (text == QLatin1String("1.5"))
    return StopBits::OneAndHalf;
  if (text == QLatin1String("2"))
    return StopBits::Two;
  return std::nullopt;
}

} // namespace

std::optional<LineSettings> parseLineSettings(QStringView text) {
  // Anchored as a whole: "$" alone would also accept a string followed by a line feed.
  static const QRegularExpression form(QRegularExpression::anchoredPattern(
      QStringLiteral(R"(([1-9][0-9]{0,6}),([noemsNOEMS]),([5-8]),(1|1\.5|2))")));
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
  const auto match = form.matchView(text);
#else
  const auto match = form.match(text);
#endif
  if (!match.hasMatch())
    return std::nullopt;
  const qint64 rate = match.capturedView(1).toLongLong();
  if (rate > fastestRate)
    return std::nullopt;
  return LineSettings{static_cast<qint32>(rate),
                      static_cast<char>(match.capturedView(2).at(0).toLower().toLatin1()),
                      match.capturedView(3).toInt(), *stopBitsFrom(match.capturedView(4))};
}

qint64 characterMicros(const LineSettings &line) {
  const int halfStopBits = line.stopBits == StopBits::One   ? 2
                           : line.stopBits == StopBits::Two ? 4
                                                            : 3;
  // Start bit, data bits, parity bit and stop bits, in half bits to carry 1.5 stop bits.
  const int halfBits = 2 * (1 + line.dataBits + (line.parity == 'n' ? 0 : 1)) + halfStopBits;
  return (qint64(halfBits) * 1'000'000 / 2 + line.rate - 1) / line.rate;
}

int strayGapMs(const LineSettings &line) {
  constexpr int shortestGapMs = 100;
  constexpr int gapInCharacters = 20;
  const qint64 gapMs = (gapInCharacters * characterMicros(line) + 999) / 1000;
  return int(qMax<qint64>(shortestGapMs, gapMs));
}
