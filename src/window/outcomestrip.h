#pragma once

#include "common/record.h"

#include <QString>
#include <QTime>

class QLabel;

// What the strip below the user code box says of a line of the record, in both languages: what
// went out and what came of it, with %1 where the frame goes. Empty for what it leaves to a box
// of its own (stray bytes). Each fits the strip with a frame of about 20 letters.
QString outcomeWords(const RecordLine &line, QTime at, int waitMs);

// What it says of a frame handed to the port until its last bit has left, which a device that has
// stopped reading may hold up for good.
QString leavingWords();

// A frame as the operator typed it, without its carriage return.
QString shownFrame(const QByteArray &frame);

// Puts the words in the strip with the frame, which is cut in the middle where the whole would be
// wider than the strip; a screen reader is told of the change and reads it whole.
void showOutcome(QLabel &strip, const QString &words, const QString &frame);

// The box for a record that could not be written, which stops all sending.
QString recordStoppedText(const QString &problem);
