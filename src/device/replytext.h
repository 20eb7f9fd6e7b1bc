#pragma once

#include <QByteArrayView>
#include <QString>

// A device reply is a 12-byte block; byte 0 is not shown and bytes 1 to 11 are.
constexpr qsizetype replyBlockSize = 12;

// The text shown for a reply, built from bytes 1 to 11 of block (fewer when block is
// shorter; anything past byte 11 is ignored). Every shown byte stays visible:
// - printable ASCII (0x20 to 0x7E) is itself;
// - a lead and trail byte that form a code page 936 character become that character;
// - a control byte (0x00 to 0x1F, 0x7F) becomes its Unicode control picture (0x00 is ␀);
// - any other byte, such as a lone high byte, becomes ⟨NN⟩ in upper-case hex, between the
//   mathematical angle brackets U+27E8 and U+27E9, which no byte sent can produce.
QString replyText(QByteArrayView block);

// Whether c is a control picture replyText shows for a control byte.
bool isControlPicture(QChar c);

// The length of the mark replyText gives a byte that cannot be drawn ("⟨80⟩") at the start of
// text; 0 when text does not start with one.
qsizetype undrawableMarkAt(QStringView text);

// Bytes as upper-case hex pairs with a space between: "02 49 44".
QString hexBytes(QByteArrayView bytes);

struct LineEvent;

// The text of one box: each event on a line of its own, in order, and at the end how many
// replies and lines of stray bytes still wait and in how many boxes they follow. A lone reply is
// just its text.
QString boxText(const QList<LineEvent> &events, qsizetype repliesStillWaiting,
                qsizetype boxesStillNeeded = 1, qsizetype strayLinesStillWaiting = 0);

// What the box that tells of a closed port says of stray bytes that were still waiting for a
// reply then.
QString strayAtCloseText(const LineEvent &stray);

// What the last box says once the operator has closed the port from a box of replies: the
// replies and stray bytes that still waited are counted instead of shown box after box.
QString closedWithWaitingText(qint64 replies, qint64 strayBytes);
