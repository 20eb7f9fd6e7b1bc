// Drives parseLineSettings with a hand parser of the accepted form: the two must agree on
// every string, and what is accepted must come back field by field.

#include "serial/linesettings.h"
#include "check.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

std::optional<qint32> referenceRate(QStringView field) {
  if (field.isEmpty() || field.size() > 7 || field.front() == u'0')
    return std::nullopt;
  qint32 rate = 0;
  for (QChar c : field) {
    if (c < u'0' || c > u'9')
      return std::nullopt;
    rate = rate * 10 + (c.unicode() - u'0');
  }
  if (rate > 4'000'000)
    return std::nullopt;
  return rate;
}

std::optional<char> referenceParity(QStringView field) {
  if (field.size() != 1)
    return std::nullopt;
  const char16_t letter = field.front().unicode();
  for (const char16_t *accepted = u"noemsNOEMS"; *accepted; ++accepted)
    if (letter == *accepted)
      return static_cast<char>(letter >= u'a' ? letter : letter + (u'a' - u'A'));
  return std::nullopt;
}

std::optional<int> referenceDataBits(QStringView field) {
  if (field.size() != 1 || field.front() < u'5' || field.front() > u'8')
    return std::nullopt;
  return field.front().unicode() - u'0';
}

std::optional<StopBits> referenceStopBits(QStringView field) {
  if (field == u"1")
    return StopBits::One;
  if (field == u"1.5")
    return StopBits::OneAndHalf;
  if (field == u"2")
    return StopBits::Two;
  return std::nullopt;
}

std::optional<LineSettings> referenceSettings(QStringView text) {
  const QList<QStringView> fields = text.split(u',');
  if (fields.size() != 4)
    return std::nullopt;
  const auto rate = referenceRate(fields[0]);
  const auto parity = referenceParity(fields[1]);
  const auto dataBits = referenceDataBits(fields[2]);
  const auto stopBits = referenceStopBits(fields[3]);
  if (!rate || !parity || !dataBits || !stopBits)
    return std::nullopt;
  return LineSettings{*rate, *parity, *dataBits, *stopBits};
}

QString describe(const std::optional<LineSettings> &settings) {
  if (!settings)
    return QStringLiteral("malformed");
  return QStringLiteral("%1,%2,%3,stop#%4")
      .arg(settings->rate)
      .arg(QLatin1Char(settings->parity))
      .arg(settings->dataBits)
      .arg(static_cast<int>(settings->stopBits));
}

void checkLineSettings(const QString &text) {
  const auto expected = referenceSettings(text);
  const auto parsed = parseLineSettings(text);
  const bool same =
      expected.has_value() == parsed.has_value() &&
      (!expected ||
       (expected->rate == parsed->rate && expected->parity == parsed->parity &&
        expected->dataBits == parsed->dataBits && expected->stopBits == parsed->stopBits));
  FUZZ_CHECK(same, QStringLiteral("%1 must be %2, got %3")
                       .arg(codeUnits(text), describe(expected), describe(parsed)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const QByteArrayView bytes(data, static_cast<qsizetype>(size));
  checkLineSettings(QString::fromUtf8(bytes));
  checkLineSettings(QString::fromLatin1(bytes));
  return 0;
}
