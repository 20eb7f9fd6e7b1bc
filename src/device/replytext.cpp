#include "device/replytext.h"

#include "device/codepage.h"

namespace {

constexpr char16_t controlPictures = 0x2400;
constexpr char16_t deleteSymbol = 0x2421;

bool isPrintableAscii(uchar byte) { return byte >= 0x20 && byte < 0x7f; }

bool isControl(uchar byte) { return byte < 0x20 || byte == 0x7f; }

// A pair is only a character when its text is something a person can read; a code page 936
// user-defined pair decodes to a private-use code point that no font draws and that isPrint()
// refuses like every other category of unprintable characters.
std::optional<QString> readablePair(char lead, char trail) {
  const auto character = charFromCodePage936Pair(lead, trail);
  if (!character || !character->at(0).isPrint())
    return std::nullopt;
  return character;
}

QString visibleByte(uchar byte) {
  if (isControl(byte))
    return QString(QChar(byte == 0x7f ? deleteSymbol : char16_t(controlPictures + byte)));
  return QStringLiteral("\\x") +
         QString::number(byte, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

} // namespace

QString replyText(QByteArrayView block) {
  const QByteArrayView shown =
      block.first(qMin(block.size(), replyBlockSize)).sliced(qMin<qsizetype>(1, block.size()));
  QString text;
  for (qsizetype i = 0; i < shown.size(); ++i) {
    const auto byte = static_cast<uchar>(shown[i]);
    if (isPrintableAscii(byte)) {
      text += QLatin1Char(char(byte));
      continue;
    }
    if (byte >= 0x80 && i + 1 < shown.size()) {
      if (const auto pair = readablePair(shown[i], shown[i + 1])) {
        text += *pair;
        ++i;
        continue;
      }
    }
    text += visibleByte(byte);
  }
  return text;
}
