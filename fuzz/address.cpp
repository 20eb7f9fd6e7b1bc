// Drives the address box: addressFromText and addressFrame against a reference reading of
// the box written here from the rules operators are told, not from the code under test.

#include "device/address.h"
#include "check.h"
#include "device/frames.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace {

constexpr int typeMismatch = 13;
constexpr int overflow = 6;

// Operators are told that an input method's full-width digits, signs, point and blank count as
// the characters they look like.
QString asTyped(QStringView text) {
  QString narrow;
  for (QChar c : text) {
    if (c >= u'\uFF10' && c <= u'\uFF19')
      c = QChar(u'0' + (c.unicode() - 0xFF10));
    else if (c == u'\uFF0B' || c == u'\uFF0D' || c == u'\uFF0E')
      c = QChar(c.unicode() - 0xFF0B + u'+');
    else if (c == u'\u3000')
      c = u' ';
    narrow.append(c);
  }
  return narrow;
}

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool allAsciiDigits(QStringView text) {
  for (QChar c : text)
    if (!isAsciiDigit(c))
      return false;
  return true;
}

// What the box must give: an address, or the failure number it is refused with.
struct Reading {
  int address = -1;
  int failure = 0; // 0 when the text is accepted
};

Reading referenceAddress(QStringView typed) {
  const QString narrow = asTyped(typed);
  QStringView text = narrow;
  const Reading mismatch{-1, typeMismatch};
  const Reading tooLarge{-1, overflow};

  while (!text.isEmpty() && isBlank(text.front()))
    text = text.sliced(1);
  while (!text.isEmpty() && isBlank(text.back()))
    text.chop(1);

  bool negative = false;
  if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
    negative = text.front() == u'-';
    text = text.sliced(1);
  }
  const qsizetype point = text.indexOf(u'.');
  const QStringView whole = point < 0 ? text : text.first(point);
  const QStringView fraction = point < 0 ? QStringView() : text.sliced(point + 1);
  if (!allAsciiDigits(whole) || !allAsciiDigits(fraction) || whole.size() + fraction.size() == 0)
    return mismatch;

  // Anything from 1000 on is refused the same way, so the value saturates there.
  int value = 0;
  for (QChar c : whole)
    value = qMin(value * 10 + (c.unicode() - u'0'), 1000);

  const int firstFractionDigit = fraction.isEmpty() ? 0 : fraction.front().unicode() - u'0';
  bool restIsZero = true;
  for (QChar c : fraction.mid(1))
    restIsZero = restIsZero && c == u'0';
  const bool aboveHalf = firstFractionDigit > 5 || (firstFractionDigit == 5 && !restIsZero);
  const bool exactlyHalf = firstFractionDigit == 5 && restIsZero;
  if (aboveHalf || (exactlyHalf && value % 2 == 1))
    ++value;

  if (value > 255 || (negative && value != 0))
    return tooLarge;
  return Reading{value, 0};
}

void checkAddress(const QString &text) {
  const Reading expected = referenceAddress(text);

  int address = -1;
  const auto refused = failureNumberOf([&] { address = addressFromText(text); });
  if (expected.failure != 0) {
    FUZZ_CHECK(
        refused == expected.failure,
        QStringLiteral("%1 must be refused with %2, got %3")
            .arg(codeUnits(text))
            .arg(expected.failure)
            .arg(refused ? QString::number(*refused) : QStringLiteral("address %1").arg(address)));
  } else {
    FUZZ_CHECK(
        !refused && address == expected.address,
        QStringLiteral("%1 must be address %2, got %3")
            .arg(codeUnits(text))
            .arg(expected.address)
            .arg(refused ? QStringLiteral("failure %1").arg(*refused) : QString::number(address)));
  }

  QByteArray frame;
  const auto frameRefused = failureNumberOf([&] { frame = addressFrame(text); });
  if (expected.failure != 0 || expected.address > 99) {
    const int number = expected.failure != 0 ? expected.failure : overflow;
    FUZZ_CHECK(frameRefused == number, QStringLiteral("%1: frame must be refused with %2, got %3")
                                           .arg(codeUnits(text))
                                           .arg(number)
                                           .arg(QString::fromLatin1(frame.toHex(' '))));
    return;
  }
  const QByteArray wanted = QByteArray("ID") + char('0' + expected.address / 10) +
                            char('0' + expected.address % 10) + '\r';
  FUZZ_CHECK(!frameRefused && frame.size() == 5 && frame == wanted,
             QStringLiteral("%1: frame must be %2, got %3")
                 .arg(codeUnits(text), QString::fromLatin1(wanted.toHex(' ')),
                      frameRefused ? QStringLiteral("failure %1").arg(*frameRefused)
                                   : QString::fromLatin1(frame.toHex(' '))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const QByteArrayView bytes(data, static_cast<qsizetype>(size));
  checkAddress(QString::fromUtf8(bytes));
  checkAddress(QString::fromLatin1(bytes));
  return 0;
}
