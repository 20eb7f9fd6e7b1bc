#pragma once

#include <QByteArray>
#include <iconv.h>
#include <optional>

// Code page 936 as the C library's converter has it: a second opinion, independent of the
// converter the program uses. It leaves out the user-defined area (private-use code points),
// which the program's converter may carry.

inline bool isPrivateUse(char32_t codePoint) { return codePoint >= 0xe000 && codePoint <= 0xf8ff; }

// The code page 936 bytes of one code point, or nothing when the C library has no place for
// it (a surrogate code point included).
inline std::optional<QByteArray> gbkBytesOf(char32_t codePoint) {
  static const iconv_t converter = iconv_open("GBK", "UTF-32LE");
  char in[4];
  for (int i = 0; i < 4; ++i)
    in[i] = static_cast<char>((codePoint >> (8 * i)) & 0xff);
  char out[16];
  char *inAt = in;
  char *outAt = out;
  size_t inLeft = sizeof in;
  size_t outLeft = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &inAt, &inLeft, &outAt, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
    return std::nullopt;
  return QByteArray(out, outAt - out);
}
