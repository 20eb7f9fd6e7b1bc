#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Text on the wire is code page 936 (GBK) whatever the locale of the machine, because that
// is what the devices speak.

// The bytes of text in code page 936, or nothing when some character has no place in it.
std::optional<QByteArray> toCodePage936(QStringView text);

// The first character (a whole code point) that code page 936 cannot hold, or an empty
// string when every character fits.
QString firstCharOutsideCodePage936(QStringView text);

// One character from a code page 936 double-byte pair, or nothing when the pair is not a
// character of the code page.
std::optional<QString> charFromCodePage936Pair(char lead, char trail);
