#include "device/codepage.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <QStringDecoder>
#include <QStringEncoder>
#endif

namespace {

#ifdef Q_OS_WIN

constexpr UINT codePage = 936;

// WC_NO_BEST_FIT_CHARS stops "ÿ" going out as "y"; a character with no place at all comes out
// as the default character, which usedDefault reports.
std::optional<QByteArray> encoded(QStringView text) {
  if (text.isEmpty())
    return QByteArray();
  const auto *wide = reinterpret_cast<LPCWCH>(text.utf16());
  const int length = static_cast<int>(text.size());
  BOOL usedDefault = FALSE;
  const int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, length, nullptr, 0,
                                       nullptr, &usedDefault);
  if (size <= 0 || usedDefault)
    return std::nullopt;
  QByteArray bytes(size, Qt::Uninitialized);
  if (WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, length, bytes.data(), size, nullptr,
                          &usedDefault) != size ||
      usedDefault)
    return std::nullopt;
  return bytes;
}

// MB_ERR_INVALID_CHARS refuses a byte sequence that is no character instead of putting in U+FFFD.
std::optional<QString> decoded(QByteArrayView bytes) {
  if (bytes.isEmpty())
    return QString();
  const int length = static_cast<int>(bytes.size());
  const int size =
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
  if (size <= 0)
    return std::nullopt;
  QString text(size, Qt::Uninitialized);
  if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), length,
                          reinterpret_cast<LPWSTR>(text.data()), size) != size)
    return std::nullopt;
  return text;
}

#else

constexpr auto gbk = "GBK";

std::optional<QByteArray> encoded(QStringView text) {
  QStringEncoder encoder(gbk, QStringConverter::Flag::Stateless);
  const QByteArray bytes = encoder.encode(text);
  if (encoder.hasError())
    return std::nullopt;
  return bytes;
}

std::optional<QString> decoded(QByteArrayView bytes) {
  QStringDecoder decoder(gbk, QStringConverter::Flag::Stateless);
  const QString text = decoder.decode(bytes);
  if (decoder.hasError())
    return std::nullopt;
  return text;
}

#endif

// A character only counts as held when it comes back unchanged from a round trip: a converter
// may quietly put in a look-alike or a substitute instead of reporting it, which would change
// the operator's code without a word.
std::optional<QByteArray> roundTripped(QStringView text) {
  if (!codePage936Available())
    return std::nullopt;
  const auto bytes = encoded(text);
  if (!bytes)
    return std::nullopt;
  const auto back = decoded(*bytes);
  if (!back || *back != text)
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

#ifdef Q_OS_WIN
bool systemHasCodePage936() { return IsValidCodePage(codePage) != 0; }
#else
bool systemHasCodePage936() {
  static const bool present = QStringEncoder(gbk).isValid();
  return present;
}
#endif

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

std::optional<QString> fromCodePage936(QByteArrayView bytes) {
  if (!codePage936Available())
    return std::nullopt;
  return decoded(bytes);
}

std::optional<QString> charFromCodePage936Pair(char lead, char trail) {
  if (!codePage936Available())
    return std::nullopt;
  const char pair[] = {lead, trail};
  const auto character = decoded(QByteArrayView(pair, 2));
  if (!character || character->size() != 1 || (*character)[0] == QChar::ReplacementCharacter)
    return std::nullopt;
  return character;
}
