#include "window/wrapbutton.h"

#include <QKeyEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace {
constexpr int captionMargin = 2;
}

QRect WrapButton::captionRect() const {
  QStyleOptionButton option;
  initStyleOption(&option);
  return style()
      ->subElementRect(QStyle::SE_PushButtonContents, &option, this)
      .adjusted(captionMargin, 0, -captionMargin, 0);
}

void WrapButton::paintEvent(QPaintEvent *) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QString caption = option.text;
  option.text.clear();
  painter.drawControl(QStyle::CE_PushButton, option);
  painter.drawItemText(captionRect(), captionFlags, option.palette, isEnabled(), caption,
                       QPalette::ButtonText);
}

void WrapButton::keyPressEvent(QKeyEvent *event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (!enter || event->modifiers() != Qt::NoModifier) {
    QPushButton::keyPressEvent(event);
    return;
  }
  if (!event->isAutoRepeat())
    click();
  event->accept();
}
