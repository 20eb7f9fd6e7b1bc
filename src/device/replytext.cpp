#include "device/replytext.h"

#include "device/backlog.h"
#include "device/codepage.h"

#include <QStringList>

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

namespace {

QString strayLine(const LineEvent &stray) {
  QString hex = QString::fromLatin1(stray.bytes.toHex(' ').toUpper());
  if (stray.strayBytes > stray.bytes.size())
    hex += QStringLiteral(" …");
  return QStringLiteral(
             "已忽略此回复前的 %1 个杂散字节。%1 stray bytes ignored before this reply: %2")
      .arg(stray.strayBytes)
      .arg(hex);
}

QString droppedLine(const LineEvent &dropped) {
  QString line =
      QStringLiteral("此处有 %1 条回复因等待过多被丢弃。%1 replies dropped here: too many "
                     "were waiting.")
          .arg(dropped.replies);
  if (dropped.strayBytes > 0)
    line += QStringLiteral(" 另丢弃 %1 个杂散字节。%1 stray bytes dropped with them.")
                .arg(dropped.strayBytes);
  return line;
}

} // namespace

QString boxText(const QList<LineEvent> &events, qsizetype repliesStillWaiting) {
  QStringList lines;
  for (const LineEvent &event : events) {
    switch (event.kind) {
    case LineEvent::Kind::Reply:
      lines.append(replyText(event.bytes));
      break;
    case LineEvent::Kind::Stray:
      lines.append(strayLine(event));
      break;
    case LineEvent::Kind::Dropped:
      lines.append(droppedLine(event));
      break;
    }
  }
  if (repliesStillWaiting > 0)
    lines.append(
        QStringLiteral("… 还有 %1 条回复，见下一个框。%1 more replies follow in the next box.")
            .arg(repliesStillWaiting));
  return lines.join(QLatin1Char('\n'));
}
