#include "window/appearance.h"

#include "window/wrapbutton.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProxyStyle>
#include <QSet>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <algorithm>
#include <cmath>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

constexpr double textContrast = 4.5;
constexpr double disabledContrast = 3.0;
// Greyed text is chosen with this much to spare, for rounding and for a renderer that softens
// the edges of strokes anyway.
constexpr double renderingAllowance = 1.2;
// Up to this size text is drawn without antialiasing (see faceFont).
constexpr int crispPointSize = 12;
constexpr int caretWidth = 1;

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

double contrastOfLuminances(double a, double b) {
  return (qMax(a, b) + 0.05) / (qMin(a, b) + 0.05);
}

QFont faceFont(const QStringList &families, int pointSize, QFont::Weight weight) {
  QFont f;
  f.setFamilies(families);
  f.setPointSize(pointSize);
  f.setWeight(weight);
  // With FreeType, full hinting fits the thin strokes of the Song face to the pixel grid, which
  // keeps them whole where they are drawn without antialiasing (below) and sharp where they are
  // not. Windows' own rasteriser draws them darker unhinted.
#ifdef Q_OS_WIN
  f.setHintingPreference(QFont::PreferNoHinting);
#else
  f.setHintingPreference(QFont::PreferFullHinting);
#endif
  // The described faces are drawn from bitmaps at these sizes (SimSun's, and Fixedsys is one),
  // not antialiased: every stroke is whole pixels of the text's colour, so greyed captions and
  // the lists in force read at the contrast their colours have, whatever the desktop's font
  // settings. Set either way, so that no control inherits its parent's choice.
  f.setStyleStrategy(pointSize <= crispPointSize ? QFont::NoAntialias : QFont::PreferDefault);
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

// The theme's palette reaches the program through its style, which makes it readable: the
// controls then share the one palette Qt derives from the theme (so the drawings the style
// caches for one control serve all of its kind), and a theme that changes is followed.
class ReadableStyle : public QProxyStyle {
public:
  using QProxyStyle::QProxyStyle;

  void polish(QPalette &palette) override {
    QProxyStyle::polish(palette);
    palette = readablePalette(palette, *baseStyle());
  }
  using QProxyStyle::polish;
};

class IconOncePainted : public QObject {
public:
  IconOncePainted(QWidget &window, const QString &path) : QObject(&window), path_(path) {
    window.installEventFilter(this);
  }

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      // After the paint has reached the screen, not inside it.
      QTimer::singleShot(0, this, [this] {
        QApplication::setWindowIcon(QIcon(path_));
        deleteLater();
      });
    }
    return false;
  }

private:
  QString path_;
};

} // namespace

double contrastRatio(const QColor &a, const QColor &b) {
  return contrastOfLuminances(relativeLuminance(a), relativeLuminance(b));
}

QColor readableOr(const QColor &preferred, const QColor &background, const QColor &fallback) {
  return contrastRatio(preferred, background) >= textContrast ? preferred : fallback;
}

QColor readableDisabled(const QColor &disabled, const QColor &background, const QColor &enabled) {
  return readableDisabled(disabled, QList<QColor>{background}, enabled, disabledContrast);
}

QColor readableDisabled(const QColor &disabled, const QList<QColor> &backgrounds,
                        const QColor &enabled, double contrast) {
  QList<double> luminances;
  for (const QColor &background : backgrounds)
    luminances.append(relativeLuminance(background));
  const auto leastContrast = [&](const QColor &colour) {
    const double luminance = relativeLuminance(colour);
    double least = 21;
    for (const double background : luminances)
      least = qMin(least, contrastOfLuminances(luminance, background));
    return least;
  };
  if (leastContrast(disabled) >= contrast)
    return disabled;
  constexpr int steps = 40;
  for (int step = 1; step < steps; ++step) {
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
  // As tall as the command buttons: the face's colours run from top to bottom.
  option.rect = QRect(0, 0, 24, 41);
  QImage face(option.rect.size(), QImage::Format_RGB32);
  face.fill(palette.color(QPalette::Disabled, QPalette::Window));
  {
    QPainter painter(&face);
    style.drawControl(QStyle::CE_PushButtonBevel, &option, &painter);
  }
  const QRect inside = style.subElementRect(QStyle::SE_PushButtonContents, &option)
                           .adjusted(2, 2, -2, -2)
                           .intersected(face.rect());
  QSet<QRgb> pixels;
  for (int y = inside.top(); y <= inside.bottom(); ++y) {
    const auto *line = reinterpret_cast<const QRgb *>(face.constScanLine(y));
    for (int x = inside.left(); x <= inside.right(); ++x)
      pixels.insert(line[x]);
  }
  QList<QColor> colours;
  for (const QRgb pixel : pixels)
    colours.append(QColor(pixel));
  return colours;
}

QFont fittingColumns(QFont font, int columns, int width, qreal dotsPerInch) {
  // Each size a face is measured at costs a font engine at start-up, so the first size tried is
  // the one the usual proportions of a fixed-pitch face give: most faces fit at once.
  constexpr qreal usualColumnShare = 0.6;
  const int own = qRound(font.pointSizeF() * dotsPerInch / 72);
  int pixels = qBound(1, int(width / (columns * usualColumnShare)), own);
  font.setPixelSize(pixels);
  while (pixels > 1 && QFontMetrics(font).horizontalAdvance(QLatin1Char('W')) * columns > width)
    font.setPixelSize(--pixels);
  return font;
}

int textAreaWidth(const QLineEdit &edit) {
  // The field of an editable list has no frame of its own: the list draws it.
  const int frame =
      edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &edit) : 0;
  // A line edit keeps 2 pixels inside its frame on either side and needs 1 for the caret.
  constexpr int innerMargin = 2;
  constexpr int caret = caretWidth;
  const QMargins text = edit.textMargins();
  return edit.width() - 2 * (frame + innerMargin) - text.left() - text.right() - caret;
}

QFont fittingCaption(QFont font, const QRect &room, int flags, const QStringList &texts) {
  // Below this letters merge; a caption that would need less is cut rather than blotted out.
  constexpr int smallestLegible = 7;
  const auto fits = [&](const QFont &candidate) {
    const QFontMetrics metrics(candidate);
    return std::all_of(texts.begin(), texts.end(), [&](const QString &text) {
      return room.contains(metrics.boundingRect(room, flags, text));
    });
  };
  for (int pixels = QFontInfo(font).pixelSize(); pixels > smallestLegible && !fits(font);)
    font.setPixelSize(--pixels);
  return font;
}

void fitCaptions(QWidget &window) {
  // A control whose caption fits in the window's face keeps that face, inherited.
  const auto fit = [&window](QWidget *control, const QRect &room, int flags,
                             const QStringList &texts) {
    const QFont fitted = fittingCaption(window.font(), room, flags, texts);
    if (fitted != window.font())
      control->setFont(fitted);
    else if (control->testAttribute(Qt::WA_SetFont))
      control->setFont(QFont());
  };
  for (QLabel *label : window.findChildren<QLabel *>())
    fit(label, label->contentsRect(), int(label->alignment()) | Qt::TextWordWrap, {label->text()});
  for (WrapButton *button : window.findChildren<WrapButton *>())
    fit(button, button->captionRect(), WrapButton::captionFlags, {button->text()});
  for (QComboBox *list : window.findChildren<QComboBox *>()) {
    if (!list->lineEdit())
      continue;
    // The field shows one entry at a time, with no caret while greyed.
    QStringList entries{list->currentText()};
    for (int i = 0; i < list->count(); ++i)
      entries.append(list->itemText(i));
    fit(list, QRect(0, 0, textAreaWidth(*list->lineEdit()) + caretWidth, list->height()),
        Qt::AlignLeft | Qt::AlignTop, entries);
  }
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
                                  textContrast * renderingAllowance));
  // A greyed caption is read against the face the style paints, which need not be the
  // palette's button colour (Fusion paints a lighter gradient).
  QList<QColor> faces = disabledButtonFaces(theme, style);
  faces.append(theme.color(QPalette::Disabled, QPalette::Button));
  theme.setColor(QPalette::Disabled, QPalette::ButtonText,
                 readableDisabled(theme.color(QPalette::Disabled, QPalette::ButtonText), faces,
                                  theme.color(QPalette::Active, QPalette::ButtonText),
                                  disabledContrast * renderingAllowance));
  return theme;
}

void useReadableStyle() {
  if (!dynamic_cast<ReadableStyle *>(QApplication::style()))
    QApplication::setStyle(new ReadableStyle(QApplication::style()->name()));
}

bool makeGivenPaletteReadable() {
  // The theme's own palette has come through the style.
  if (!QCoreApplication::testAttribute(Qt::AA_SetPalette))
    return false;
  const QPalette given = QApplication::palette();
  const QPalette readable = readablePalette(given, *QApplication::style());
  if (readable == given)
    return false;
  QApplication::setPalette(readable);
  return true;
}

QPalette entryPalette(QPalette palette) {
  const QColor described = entryTextColour(palette);
  for (const auto group : {QPalette::Active, QPalette::Inactive})
    palette.setColor(group, QPalette::Text,
                     readableOr(described, palette.color(group, QPalette::Base),
                                palette.color(group, QPalette::Text)));
  return palette;
}

void setIconOncePainted(QWidget &window, const QString &path) { new IconOncePainted(window, path); }
