#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Text on the wire is code page 936 (GBK) whatever the locale of the machine, because that
// is what the devices speak. Windows converts with its own code page 936; elsewhere ICU's GBK
// converter does, which a Qt built without ICU lacks.

// Whether this system can convert code page 936 at all. Without a converter every function
// below refuses: no bytes, no characters. It is defined in a file of its own, so that a test
// program can define it instead and stand for a system without a converter; the programs
// carry no such switch.
bool codePage936Available();

// Whether the system's converter is there (ICU's GBK, or Windows' code page 936).
bool systemHasCodePage936();

// The bytes of text in code page 936, or nothing when some character has no place in it.
std::optional<QByteArray> toCodePage936(QStringView text);

// The first character (a whole code point) that code page 936 cannot hold, or an empty
// string when every character fits. ASCII always fits.
QString firstCharOutsideCodePage936(QStringView text);

// Text from its bytes in code page 936, or nothing when some byte sequence is no character of
// it (or the system has no converter).
std::optional<QString> fromCodePage936(QByteArrayView bytes);

// One character from a code page 936 double-byte pair, or nothing when the pair is not a
// character of the code page.
std::optional<QString> charFromCodePage936Pair(char lead, char trail);
