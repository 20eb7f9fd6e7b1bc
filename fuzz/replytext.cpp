// Drives replyText: the text must depend on bytes 1 to 11 only, and reading it back one
// character at a time must give those bytes again, so that no byte of a reply is lost or
// changed on its way to the operator.

#include "device/replytext.h"
#include "check.h"
#include "gbk.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace {

int upperHexValue(QChar c) {
  if (c >= u'0' && c <= u'9')
    return c.unicode() - u'0';
  if (c >= u'A' && c <= u'F')
    return c.unicode() - u'A' + 10;
  return -1;
}

// Whether some reading of text gives exactly bytes. "⟨NN⟩" stands for one byte that cannot be
// drawn; no byte a device sends is shown as those brackets, but both readings are tried all the
// same.
bool readsBack(QStringView text, QByteArrayView bytes) {
  if (text.isEmpty())
    return bytes.isEmpty();
  if (bytes.isEmpty())
    return false;
  const QChar c = text.front();
  const auto first = static_cast<uchar>(bytes.front());

  if (c == u'\u27E8' && text.size() >= 4 && text[3] == u'\u27E9') {
    const int high = upperHexValue(text[1]);
    const int low = upperHexValue(text[2]);
    if (high >= 0 && low >= 0 && first == high * 16 + low &&
        readsBack(text.sliced(4), bytes.sliced(1)))
      return true;
  }
  if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
    return first == c.unicode() && readsBack(text.sliced(1), bytes.sliced(1));
  if (c.unicode() >= 0x2400 && c.unicode() <= 0x241f)
    return first == c.unicode() - 0x2400 && readsBack(text.sliced(1), bytes.sliced(1));
  if (c.unicode() == 0x2421)
    return first == 0x7f && readsBack(text.sliced(1), bytes.sliced(1));

  const auto pair = gbkBytesOf(c.unicode());
  return pair && pair->size() == 2 && bytes.startsWith(*pair) &&
         readsBack(text.sliced(1), bytes.sliced(2));
}

QString hexOf(QByteArrayView bytes) { return QString::fromLatin1(bytes.toByteArray().toHex(' ')); }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const QByteArray block(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
  const QString text = replyText(block);
  // Only built when a check fails: it costs more than the checks.
  const auto shown = [&] { return QStringLiteral("%1 -> %2").arg(hexOf(block), codeUnits(text)); };

  // Bytes outside 1..11 must not matter: change byte 0, cut after byte 11, or change and
  // add bytes after it.
  QByteArray otherFirst = block;
  if (!otherFirst.isEmpty())
    otherFirst[0] = static_cast<char>(~otherFirst[0]);
  FUZZ_CHECK(replyText(otherFirst) == text, shown() + QStringLiteral(": byte 0 changed the text"));
  if (block.size() >= replyBlockSize) {
    FUZZ_CHECK(replyText(block.first(replyBlockSize)) == text,
               shown() + QStringLiteral(": bytes past 11 changed the text"));
    QByteArray otherTail = block;
    for (qsizetype i = replyBlockSize; i < otherTail.size(); ++i)
      otherTail[i] = static_cast<char>(otherTail[i] ^ 0x5a);
    otherTail += QByteArray("\x80\\\r", 3);
    FUZZ_CHECK(replyText(otherTail) == text,
               shown() + QStringLiteral(": bytes past 11 changed the text"));
  }

  for (QChar c : text)
    FUZZ_CHECK(c.isPrint() && c.category() != QChar::Other_PrivateUse,
               shown() + QStringLiteral(": a character is not visible"));

  const QByteArrayView shownBytes = QByteArrayView(block)
                                        .first(qMin(block.size(), replyBlockSize))
                                        .sliced(block.isEmpty() ? 0 : 1);
  FUZZ_CHECK(readsBack(text, shownBytes),
             shown() + QStringLiteral(": the text does not read back as bytes 1..11"));
  return 0;
}
