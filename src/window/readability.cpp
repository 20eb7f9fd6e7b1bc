#include "window/readability.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <cmath>

namespace {

constexpr double textContrast = 4.5;
constexpr double disabledContrast = 3.0;

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
  constexpr int steps = 20;
  for (int step = 0; step < steps; ++step) {
    const QColor candidate = mixed(disabled, enabled, double(step) / steps);
    if (contrastRatio(candidate, background) >= disabledContrast)
      return candidate;
  }
  return enabled;
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
