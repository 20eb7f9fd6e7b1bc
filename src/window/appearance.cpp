#include "window/appearance.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <cmath>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

constexpr double textContrast = 4.5;
constexpr double disabledContrast = 3.0;
// Glyphs are antialiased: the darkest pixel of a thin stroke falls a little short of the
// caption's colour, so the colour is chosen with this much to spare.
constexpr double antialiasingAllowance = 1.2;
// The lists' small digits have few pixels of full colour: measured on painted pixels, the
// third darkest of "9600" reaches well under half the contrast its colour has.
constexpr double smallTextAllowance = 3.0;

double relativeLuminance(const QColor &colour) {
  const auto linear = [](double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
  };
  const QColor rgb = colour.toRgb();
  return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

QColor mixed(const QColor &from, const QColor &to, double share) {
  const QColor a = from.toRgb();
  const QColor b = to.toRgb();
  return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * share),
                          float(a.greenF() + (b.greenF() - a.greenF()) * share),
                          float(a.blueF() + (b.blueF() - a.blueF()) * share));
}

// The captions are drawn in the Song face; AR PL UMing is the usual stand-in where SimSun is
// not installed. Each list starts with the face its platform has: resolving a font whose first
// family is missing makes fontconfig search for stand-ins, a cost paid at every start-up.
#ifdef Q_OS_WIN
const QStringList songFaces{QStringLiteral("SimSun"), QStringLiteral("宋体"),
                            QStringLiteral("AR PL UMing CN")};
// Fixedsys is a bitmap font only Windows has; any fixed-pitch face keeps the code columns.
const QStringList fixedFaces{QStringLiteral("Fixedsys"), QStringLiteral("DejaVu Sans Mono"),
                             QStringLiteral("AR PL UMing CN")};
#else
const QStringList songFaces{QStringLiteral("AR PL UMing CN"), QStringLiteral("SimSun"),
                            QStringLiteral("宋体")};
const QStringList fixedFaces{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("AR PL UMing CN")};
#endif

QFont faceFont(const QStringList &families, int pointSize, QFont::Weight weight) {
  QFont f;
  f.setFamilies(families);
  f.setPointSize(pointSize);
  f.setWeight(weight);
  // With FreeType, full hinting snaps the thin strokes of the Song face to the pixel grid:
  // greyed captions such as "enable start-password" read clearly at 100 % and 150 %, where
  // unhinted they blur. Windows' own rasteriser draws them darker unhinted.
#ifdef Q_OS_WIN
  f.setHintingPreference(QFont::PreferNoHinting);
#else
  f.setHintingPreference(QFont::PreferFullHinting);
#endif
  return f;
}

// The entry boxes draw their text in the colour of an active title bar where the platform
// has one, and in the palette's highlight colour elsewhere.
QColor entryTextColour(const QPalette &palette) {
#ifdef Q_OS_WIN
  Q_UNUSED(palette);
  const COLORREF c = GetSysColor(COLOR_ACTIVECAPTION);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
#else
  return palette.color(QPalette::Active, QPalette::Highlight);
#endif
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b) {
  const double la = relativeLuminance(a);
  const double lb = relativeLuminance(b);
  return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

QColor readableOr(const QColor &preferred, const QColor &background, const QColor &fallback) {
  return contrastRatio(preferred, background) >= textContrast ? preferred : fallback;
}

QColor readableDisabled(const QColor &disabled, const QColor &background, const QColor &enabled) {
  return readableDisabled(disabled, QList<QColor>{background}, enabled, disabledContrast);
}

QColor readableDisabled(const QColor &disabled, const QList<QColor> &backgrounds,
                        const QColor &enabled, double contrast) {
  const auto leastContrast = [&](const QColor &colour) {
    double least = 21;
    for (const QColor &background : backgrounds)
      least = qMin(least, contrastRatio(colour, background));
    return least;
  };
  constexpr int steps = 40;
  for (int step = 0; step < steps; ++step) {
    const QColor candidate = mixed(disabled, enabled, double(step) / steps);
    if (leastContrast(candidate) >= contrast)
      return candidate;
  }
  return enabled;
}

QList<QColor> disabledButtonFaces(const QPalette &palette, const QStyle &style) {
  QStyleOptionButton option;
  option.palette = palette;
  option.palette.setCurrentColorGroup(QPalette::Disabled);
  option.state = QStyle::State_Raised; // and not State_Enabled
  option.rect = QRect(0, 0, 121, 41);  // the size of the wide command buttons
  QImage face(option.rect.size(), QImage::Format_RGB32);
  face.fill(palette.color(QPalette::Disabled, QPalette::Window));
  {
    QPainter painter(&face);
    style.drawControl(QStyle::CE_PushButtonBevel, &option, &painter);
  }
  const QRect inside = style.subElementRect(QStyle::SE_PushButtonContents, &option)
                           .adjusted(2, 2, -2, -2)
                           .intersected(face.rect());
  QList<QColor> colours;
  for (int y = inside.top(); y <= inside.bottom(); ++y)
    for (int x = inside.left(); x <= inside.right(); ++x)
      if (const QColor colour = face.pixelColor(x, y); !colours.contains(colour))
        colours.append(colour);
  return colours;
}

QFont fittingColumns(QFont font, int columns, int width) {
  const QString line(columns, QLatin1Char('W'));
  for (int pixels = QFontInfo(font).pixelSize(); pixels > 1; --pixels) {
    font.setPixelSize(pixels);
    if (QFontMetrics(font).horizontalAdvance(line) <= width)
      break;
  }
  return font;
}

int textAreaWidth(const QLineEdit &edit) {
  const int frame = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &edit);
  // A line edit keeps 2 pixels inside its frame on either side and needs 1 for the caret.
  constexpr int innerMargin = 2;
  constexpr int caret = 1;
  const QMargins text = edit.textMargins();
  return edit.width() - 2 * (frame + innerMargin) - text.left() - text.right() - caret;
}

QFont songFont(int pointSize, QFont::Weight weight) {
  return faceFont(songFaces, pointSize, weight);
}

QFont fixedPitchFont(int pointSize) { return faceFont(fixedFaces, pointSize, QFont::Normal); }

QPalette readablePalette(QPalette theme, const QStyle &style) {
  theme.setColor(QPalette::Disabled, QPalette::WindowText,
                 readableDisabled(theme.color(QPalette::Disabled, QPalette::WindowText),
                                  theme.color(QPalette::Disabled, QPalette::Window),
                                  theme.color(QPalette::Active, QPalette::WindowText)));
  // Greyed boxes of text are the lists that show what is in force while the port is open: they
  // are read, not merely recognised, so they keep the contrast of text, on the box's own
  // background or the window's, whichever the style paints.
  theme.setColor(QPalette::Disabled, QPalette::Text,
                 readableDisabled(theme.color(QPalette::Disabled, QPalette::Text),
                                  {theme.color(QPalette::Disabled, QPalette::Base),
                                   theme.color(QPalette::Disabled, QPalette::Window)},
                                  theme.color(QPalette::Active, QPalette::Text),
                                  textContrast * smallTextAllowance));
  // A greyed caption is read against the face the style paints, which need not be the
  // palette's button colour (Fusion paints a lighter gradient).
  QList<QColor> faces = disabledButtonFaces(theme, style);
  faces.append(theme.color(QPalette::Disabled, QPalette::Button));
  theme.setColor(QPalette::Disabled, QPalette::ButtonText,
                 readableDisabled(theme.color(QPalette::Disabled, QPalette::ButtonText), faces,
                                  theme.color(QPalette::Active, QPalette::ButtonText),
                                  disabledContrast * antialiasingAllowance));
  return theme;
}

QPalette entryPalette(QPalette palette) {
  const QColor described = entryTextColour(palette);
  for (const auto group : {QPalette::Active, QPalette::Inactive})
    palette.setColor(group, QPalette::Text,
                     readableOr(described, palette.color(group, QPalette::Base),
                                palette.color(group, QPalette::Text)));
  return palette;
}
