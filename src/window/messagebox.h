#pragma once

#include "device/failure.h"

#include <QPoint>
#include <QSize>
#include <QString>

class QMessageBox;
class QWidget;

QString applicationTitle();

// Every box of the program: modal, the application title, the text, one OK button, no icon.
// Returns when the operator has dismissed it.
void showMessageBox(QWidget *parent, const QString &text);
// The same with a second button that closes the port, for a box of replies that came while an
// earlier box was open: a device that never stops sending would otherwise bring box after box
// for good. Returns whether the operator chose it.
bool showMessageBoxOfferingClose(QWidget *parent, const QString &text);

// Puts text in box. A control picture (␍ ends most replies) draws its letters a third of a
// character high, a few grey pixels at the box's size; in a box each is drawn 2.5 times as large,
// so that its letters are as tall as the text's capitals. The mark of a byte that cannot be drawn
// (⟨80⟩) is drawn in reverse video. What the box says, and copies, is unchanged.
void setBoxText(QMessageBox &box, const QString &text);

// The width a box needs so that a window manager's title bar shows the whole title beside its
// icon and buttons: Qt allows the title 50 pixels more, which a bold title font and three
// buttons outgrow.
int boxWidthForTitle(const QString &title);

// A short note at a control, where the operator is looking while typing, with a beep: for an
// input the control did not take. Not modal; it goes when the operator moves on. It stays
// inside the window, off the control, over as few other controls and captions as it can.
void showNote(QWidget *at, const QString &text);
// Where, in at's window, a note of that size goes. A child of the window with the property
// roomForNotes set counts as free room: the strip that tells what came of each command, which
// gives way to a note.
QPoint notePlace(const QWidget &at, QSize note);
inline constexpr char roomForNotes[] = "roomForNotes";

// How long a note stays up when the operator does nothing.
inline constexpr int noteShownMs = 8000;
