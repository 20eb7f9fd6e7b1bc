// Drives userCodeFrame: what it sends must be the code unchanged in code page 936 inside one
// well-formed frame, and it may refuse only a code it cannot send that way.

#include "check.h"
#include "device/frames.h"
#include "gbk.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <cstddef>
#include <cstdint>

namespace {

constexpr int invalidArgument = 5;

enum class Sendable { Yes, No, EitherWay };

struct Reference {
  Sendable sendable = Sendable::Yes;
  QByteArray payload; // when sendable is Yes
};

// Walks the code by code point; a lone surrogate is a code point no code page holds.
Reference reference(QStringView code) {
  Reference result;
  // The box holds 32 characters as it counts them (UTF-16 units); a longer code is refused
  // whole, never cut.
  if (code.size() > 32)
    return {Sendable::No, {}};
  for (QChar c : code)
    if (c.unicode() < 0x20 || c.unicode() == 0x7f)
      return {Sendable::No, {}};
  for (qsizetype i = 0; i < code.size();) {
    char32_t codePoint = code[i].unicode();
    qsizetype length = 1;
    if (code[i].isHighSurrogate() && i + 1 < code.size() && code[i + 1].isLowSurrogate()) {
      codePoint = QChar::surrogateToUcs4(code[i], code[i + 1]);
      length = 2;
    }
    i += length;
    if (const auto bytes = gbkBytesOf(codePoint)) {
      result.payload += *bytes;
    } else if (isPrivateUse(codePoint)) {
      result.sendable = Sendable::EitherWay;
    } else {
      return {Sendable::No, {}};
    }
  }
  return result;
}

void checkUserCode(const QString &code) {
  const Reference expected = reference(code);
  QByteArray frame;
  const auto refused = failureNumberOf([&] { frame = userCodeFrame(code); });

  if (refused) {
    FUZZ_CHECK(*refused == invalidArgument,
               QStringLiteral("%1 refused with %2").arg(codeUnits(code)).arg(*refused));
    FUZZ_CHECK(expected.sendable != Sendable::Yes,
               QStringLiteral("%1 refused, but it is sendable").arg(codeUnits(code)));
    return;
  }
  FUZZ_CHECK(expected.sendable != Sendable::No,
             QStringLiteral("%1 must be refused, got frame %2")
                 .arg(codeUnits(code), QString::fromLatin1(frame.toHex(' '))));

  const auto hex = [&] { return QString::fromLatin1(frame.toHex(' ')); };
  FUZZ_CHECK(frame.startsWith("*@-") && frame.endsWith('\r') && frame.size() >= 4,
             QStringLiteral("%1: frame %2 is not *@-...CR").arg(codeUnits(code), hex()));
  const QByteArray payload = frame.sliced(3, frame.size() - 4);
  for (char byte : payload)
    FUZZ_CHECK(static_cast<uchar>(byte) >= 0x20 && byte != 0x7f,
               QStringLiteral("%1: frame %2 holds a control byte before its end")
                   .arg(codeUnits(code), hex()));

  QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
  const QString decoded = decoder.decode(payload);
  FUZZ_CHECK(!decoder.hasError() && decoded == code,
             QStringLiteral("%1: payload decodes to %2").arg(codeUnits(code), codeUnits(decoded)));
  if (expected.sendable == Sendable::Yes)
    FUZZ_CHECK(payload == expected.payload,
               QStringLiteral("%1: payload %2, the C library encodes %3")
                   .arg(codeUnits(code), QString::fromLatin1(payload.toHex(' ')),
                        QString::fromLatin1(expected.payload.toHex(' '))));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const QByteArrayView bytes(data, static_cast<qsizetype>(size));
  checkUserCode(QString::fromUtf8(bytes));
  checkUserCode(QString::fromLatin1(bytes));
  // Raw UTF-16 reaches lone surrogates, which a paste from another program can carry.
  QString units(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
  for (qsizetype i = 0; i < units.size(); ++i)
    units[i] = QChar(static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
  checkUserCode(units);
  return 0;
}
