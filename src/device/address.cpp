#include "device/address.h"

#include "device/failure.h"

#include <QRegularExpression>
#include <algorithm>

namespace {

// Compares a run of fraction digits with one half: -1 below, 0 equal, 1 above.
int compareWithHalf(QStringView fraction) {
  if (fraction.isEmpty() || fraction.front() < QLatin1Char('5'))
    return -1;
  if (fraction.front() > QLatin1Char('5'))
    return 1;
  for (QChar c : fraction.mid(1))
    if (c != QLatin1Char('0'))
      return 1;
  return 0;
}

// An input method in full-width mode types digits, signs, the point and the blank as their
// full-width forms; they are the same characters to the operator and are read as such.
QString withHalfWidthForms(const QString &text) {
  QString narrow = text;
  for (QChar &c : narrow) {
    if (c >= QChar(0xFF01) && c <= QChar(0xFF5E))
      c = QChar(c.unicode() - 0xFF01 + 0x21);
    else if (c == QChar(0x3000))
      c = QLatin1Char(' ');
  }
  return narrow;
}

} // namespace

quint8 addressFromText(const QString &typed) {
  const QString text = withHalfWidthForms(typed);
  // Anchored as a whole: "$" alone would also accept a number followed by a line feed.
  static const QRegularExpression number(QRegularExpression::anchoredPattern(
      QStringLiteral(R"([ \t]*([+-]?)0*(\d*)(?:\.(\d*))?[ \t]*)")));
  const auto match = number.match(text);
  // A lone sign, a lone point or nothing at all holds no digit and so is no number.
  const bool hasDigit =
      std::any_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
  if (!match.hasMatch() || !hasDigit)
    throw Failure(FailureNumber::TypeMismatch, QStringLiteral("“%1”").arg(typed));

  const QString whole = match.captured(2);
  if (whole.size() > 3)
    throw Failure(FailureNumber::Overflow, QStringLiteral("“%1”").arg(typed));

  uint magnitude = whole.isEmpty() ? 0 : whole.toUInt();
  const int half = compareWithHalf(match.capturedView(3));
  if (half > 0 || (half == 0 && magnitude % 2 == 1))
    ++magnitude;

  const bool negative = match.capturedView(1) == QLatin1String("-");
  if (magnitude > 255 || (negative && magnitude != 0))
    throw Failure(FailureNumber::Overflow, QStringLiteral("“%1”").arg(typed));
  return static_cast<quint8>(magnitude);
}
