#pragma once

#include <QString>
#include <QtGlobal>

// Reads the address box the way operators expect from a number box: decimal, blanks around
// it allowed, a fraction rounded to the nearest whole number with halves to the even
// neighbour; full-width digits, signs, points and blanks count as the characters they stand
// for. Raises TypeMismatch for text that is no number (an empty box included) and Overflow
// for a number outside 0..255.
quint8 addressFromText(const QString &text);
