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
  // Angle brackets from mathematics, which no code page 936 pair decodes to: the hex of a byte
  // that cannot be drawn is never the same as text the device sent.
  return QStringLiteral("⟨%1⟩").arg(
      QString::number(byte, 16).rightJustified(2, QLatin1Char('0')).toUpper());
}

} // namespace

bool isControlPicture(QChar c) {
  return (c.unicode() >= controlPictures && c.unicode() < controlPictures + 0x20) ||
         c.unicode() == deleteSymbol;
}

qsizetype undrawableMarkAt(QStringView text) {
  const auto hexDigit = [](QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
  };
  const bool mark = text.size() >= 4 && text[0] == u'⟨' && hexDigit(text[1]) && hexDigit(text[2]) &&
                    text[3] == u'⟩';
  return mark ? 4 : 0;
}

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

QString hexBytes(QByteArrayView bytes) {
  return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

namespace {

QString strayHex(const LineEvent &stray) {
  QString hex = hexBytes(stray.bytes);
  if (stray.strayBytes > stray.bytes.size())
    hex += QStringLiteral(" …");
  return hex;
}

// "1 stray byte", "5 stray bytes".
QString strayBytesCount(qint64 count) {
  return count == 1 ? QStringLiteral("1 stray byte") : QStringLiteral("%1 stray bytes").arg(count);
}

QString strayLine(const LineEvent &stray) {
  return QStringLiteral("已忽略此回复前的 %1 个杂散字节。%2 ignored before this reply: %3")
      .arg(stray.strayBytes)
      .arg(strayBytesCount(stray.strayBytes), strayHex(stray));
}

QString loneStrayLine(const LineEvent &stray) {
  return QStringLiteral("已忽略 %1 个杂散字节，其后没有回复。%2 ignored, no reply followed: %3")
      .arg(stray.strayBytes)
      .arg(strayBytesCount(stray.strayBytes), strayHex(stray));
}

// Told by what was dropped: replies, stray bytes or both; never "0 replies".
QString droppedLine(const LineEvent &dropped) {
  if (dropped.replies == 0)
    return QStringLiteral("此处有 %1 个杂散字节被丢弃：等待的回复过多。%2 dropped here: too many "
                          "replies were waiting.")
        .arg(dropped.strayBytes)
        .arg(strayBytesCount(dropped.strayBytes));
  QString line =
      QStringLiteral("此处有 %1 条回复因等待过多被丢弃。%2 dropped here: too many were waiting.")
          .arg(dropped.replies)
          .arg(dropped.replies == 1 ? QStringLiteral("1 reply")
                                    : QStringLiteral("%1 replies").arg(dropped.replies));
  if (dropped.strayBytes > 0)
    line += QStringLiteral(" 另丢弃 %1 个杂散字节。%2 dropped with them.")
                .arg(dropped.strayBytes)
                .arg(strayBytesCount(dropped.strayBytes));
  return line;
}

// Lone stray runs take lines of the boxes as replies do, so they are counted with them.
QString moreRepliesLine(qsizetype replies, qsizetype strayLines, qsizetype boxes) {
  QStringList chinese;
  QStringList counts;
  if (replies > 0) {
    chinese.append(QStringLiteral("%1 条回复").arg(replies));
    counts.append(replies == 1 ? QStringLiteral("1 more reply")
                               : QStringLiteral("%1 more replies").arg(replies));
  }
  if (strayLines > 0) {
    chinese.append(QStringLiteral("%1 行杂散字节").arg(strayLines));
    counts.append(QStringLiteral("%1 %2 of stray bytes")
                      .arg(replies > 0 ? QString::number(strayLines)
                                       : QStringLiteral("%1 more").arg(strayLines),
                           strayLines == 1 ? QStringLiteral("line") : QStringLiteral("lines")));
  }
  const QString english =
      counts.join(QStringLiteral(" and ")) +
      (replies + strayLines == 1 ? QStringLiteral(" follows") : QStringLiteral(" follow"));
  const QString where = boxes == 1
                            ? QStringLiteral("，见下一个框。%1 in the next box.").arg(english)
                            : QStringLiteral("，见后面 %1 个框。%2 in the next %1 boxes.")
                                  .arg(QString::number(boxes), english);
  return QStringLiteral("… 还有 ") + chinese.join(QStringLiteral("和 ")) + where;
}

} // namespace

QString boxText(const QList<LineEvent> &events, qsizetype repliesStillWaiting,
                qsizetype boxesStillNeeded, qsizetype strayLinesStillWaiting) {
  QStringList lines;
  for (const LineEvent &event : events) {
    switch (event.kind) {
    case LineEvent::Kind::Reply:
      lines.append(replyText(event.bytes));
      break;
    case LineEvent::Kind::Stray:
      lines.append(strayLine(event));
      break;
    case LineEvent::Kind::LoneStray:
      lines.append(loneStrayLine(event));
      break;
    case LineEvent::Kind::Dropped:
      lines.append(droppedLine(event));
      break;
    }
  }
  if (repliesStillWaiting + strayLinesStillWaiting > 0)
    lines.append(moreRepliesLine(repliesStillWaiting, strayLinesStillWaiting,
                                 qMax<qsizetype>(1, boxesStillNeeded)));
  return lines.join(QLatin1Char('\n'));
}

QString strayAtCloseText(const LineEvent &stray) {
  return QStringLiteral("串口关闭时还有 %1 个杂散字节，其后没有回复，已忽略：%3\n"
                        "%2 with no reply after them were ignored when the port closed: %3")
      .arg(stray.strayBytes)
      .arg(strayBytesCount(stray.strayBytes), strayHex(stray));
}

QString closedWithWaitingText(qint64 replies, qint64 strayBytes) {
  QString text = QStringLiteral("串口已关闭。The port is closed.");
  if (replies > 0)
    text += QStringLiteral("\n未显示的回复：%1 条。%2 not shown.")
                .arg(replies)
                .arg(replies == 1 ? QStringLiteral("1 reply")
                                  : QStringLiteral("%1 replies").arg(replies));
  if (strayBytes > 0)
    text += QStringLiteral("\n未显示的杂散字节：%1 个。%2 not shown.")
                .arg(strayBytes)
                .arg(strayBytesCount(strayBytes));
  return text;
}
