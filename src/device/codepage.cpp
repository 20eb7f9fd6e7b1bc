#include "device/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr auto gbk = "GBK";

// A character only counts as held when it comes back unchanged from a round trip: ICU reports
// every character it cannot map, but converters built on the Windows API may quietly put in a
// "best fit" look-alike, which would change the operator's code without a word.
std::optional<QByteArray> roundTripped(QStringView text) {
  QStringEncoder encoder(gbk, QStringConverter::Flag::Stateless);
  const QByteArray bytes = encoder.encode(text);
  if (encoder.hasError())
    return std::nullopt;
  QStringDecoder decoder(gbk, QStringConverter::Flag::Stateless);
  const QString back = decoder.decode(bytes);
  if (decoder.hasError() || back != text)
    return std::nullopt;
  return bytes;
}

// Calls visit with each code point of text as a view, a surrogate pair kept whole.
template <typename Visit> bool allCodePoints(QStringView text, Visit visit) {
  for (qsizetype i = 0; i < text.size();) {
    const qsizetype length =
        (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ? 2 : 1;
    if (!visit(text.mid(i, length)))
      return false;
    i += length;
  }
  return true;
}

} // namespace

QString firstCharOutsideCodePage936(QStringView text) {
  QString found;
  allCodePoints(text, [&found](QStringView character) {
    if (character.size() == 1 && character[0].unicode() < 0x80)
      return true;
    if (roundTripped(character))
      return true;
    found = character.toString();
    return false;
  });
  return found;
}

// The code page is stateless, so the whole text round-trips exactly when each character does.
std::optional<QByteArray> toCodePage936(QStringView text) { return roundTripped(text); }

std::optional<QString> charFromCodePage936Pair(char lead, char trail) {
  const char pair[] = {lead, trail};
  QStringDecoder decoder(gbk, QStringConverter::Flag::Stateless);
  const QString decoded = decoder.decode(QByteArrayView(pair, 2));
  if (decoder.hasError() || decoded.size() != 1 || decoded[0] == QChar::ReplacementCharacter)
    return std::nullopt;
  return decoded;
}
