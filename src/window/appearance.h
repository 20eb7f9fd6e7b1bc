#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

class QLineEdit;
class QStyle;

// The window's faces and colours, chosen so that what it shows can be read on any theme.

// The Song face of the captions and the address box, or its usual stand-in.
QFont songFont(int pointSize, QFont::Weight weight);
// The fixed-pitch face of the user code box.
QFont fixedPitchFont(int pointSize);

// The theme, with greyed captions made readable (see readableDisabled): a greyed button's
// caption against the face style paints, with room for antialiasing.
QPalette readablePalette(QPalette theme, const QStyle &style);
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

// font at the largest pixel size, no larger than its own, in which columns characters of its
// fixed pitch fit width pixels.
QFont fittingColumns(QFont font, int columns, int width);

// The width a line edit has for its text inside its frame and margins.
int textAreaWidth(const QLineEdit &edit);
