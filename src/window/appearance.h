#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QLineEdit;
class QStyle;
class QWidget;

// The window's faces and colours, chosen so that what it shows can be read on any theme.

// The Song face of the captions and the address box, or its usual stand-in.
QFont songFont(int pointSize, QFont::Weight weight);
// The fixed-pitch face of the user code box.
QFont fixedPitchFont(int pointSize);

// The theme, with greyed captions made readable (see readableDisabled): a greyed button's
// caption against the face style paints, with room for antialiasing.
QPalette readablePalette(QPalette theme, const QStyle &style);
// Gives the program a style that makes the theme's palette readable (see readablePalette) as Qt
// takes it from the theme, now and when it changes. Called before the first widget is made.
void useReadableStyle();
// Makes a palette the program was given outright readable too; returns whether it changed it.
bool makeGivenPaletteReadable();
// The palette of an entry box: its text in the described colour (the active title bar's on
// Windows, the highlight elsewhere) where that reads on the box, the theme's text otherwise.
QPalette entryPalette(QPalette palette);

// The contrast ratio of two colours as WCAG 2 defines it: 1 (the same) to 21 (black on white).
double contrastRatio(const QColor &a, const QColor &b);

// preferred where it reads on background (4.5:1, WCAG AA for text), fallback otherwise.
QColor readableOr(const QColor &preferred, const QColor &background, const QColor &fallback);

// A disabled caption still has to be read to know what the button will do once enabled: the
// theme's colour where it has 3:1 against background, else moved toward the enabled colour
// just as far as that takes. It stays lighter than an enabled caption.
QColor readableDisabled(const QColor &disabled, const QColor &background, const QColor &enabled);
// The same against every one of backgrounds, to contrast.
QColor readableDisabled(const QColor &disabled, const QList<QColor> &backgrounds,
                        const QColor &enabled, double contrast);

// The colours style paints inside the bevel of a greyed push button.
QList<QColor> disabledButtonFaces(const QPalette &palette, const QStyle &style);

// font at a pixel size, no larger than its own at dotsPerInch, at which columns characters of its
// fixed pitch fit width pixels: the size the usual proportions of such a face give, or smaller.
QFont fittingColumns(QFont font, int columns, int width, qreal dotsPerInch);

// The width a line edit has for its text inside its frame and margins.
int textAreaWidth(const QLineEdit &edit);

// font, a pixel smaller at a time, until each of texts laid out with flags fits room (or no
// smaller size is legible).
QFont fittingCaption(QFont font, const QRect &room, int flags, const QStringList &texts);
// Gives each caption of window (its labels, wrapping buttons and the entries of its lists) the
// window's face at the largest size at which every line of it shows whole in its control.
void fitCaptions(QWidget &window);

// Gives the program the icon read from path once window has been painted for the first time:
// reading an image makes Qt look through its image plugins, which the operator need not wait
// for to see the window.
void setIconOncePainted(QWidget &window, const QString &path);
