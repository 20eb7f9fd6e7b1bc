#pragma once

#include <QPushButton>

// A push button whose caption wraps onto more lines when it is wider than the button, as the
// buttons of the platform this tool comes from do; a plain QPushButton clips it instead. Like
// those buttons it is pressed with Enter or Return when it has the focus, not only with Space.
class WrapButton : public QPushButton {
  Q_OBJECT

public:
  using QPushButton::QPushButton;

  // The rectangle the caption is drawn in, inside the bevel and its margins.
  QRect captionRect() const;

  static constexpr int captionFlags = Qt::AlignCenter | Qt::TextWordWrap;

protected:
  void paintEvent(QPaintEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;
};
