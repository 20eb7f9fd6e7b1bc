#include "window/openingkey.h"

#include <QKeyEvent>

namespace {

bool pressesButtons(int key) {
  return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

// Return and the keypad's Enter are one key to the operator.
bool sameKey(int a, int b) {
  const auto enter = [](int k) { return k == Qt::Key_Return || k == Qt::Key_Enter; };
  return a == b || (enter(a) && enter(b));
}

} // namespace

bool OpeningKey::drops(QEvent *event, bool onOpenButton) {
  const QEvent::Type type = event->type();
  if (type == QEvent::MouseButtonPress)
    state_ = State::Idle;
  if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
    return false;
  const auto *key = static_cast<const QKeyEvent *>(event);
  const bool press = type == QEvent::KeyPress;
  const bool opened = state_ == State::Held || state_ == State::Released;
  if (opened && sameKey(key->key(), key_)) {
    if (!press) {
      // A held key's repeats come as releases and presses marked as repeats.
      if (!key->isAutoRepeat()) {
        state_ = State::Released;
        at_ = key->timestamp();
      }
      return false;
    }
    // Signed, so that a press stamped before the release still counts as quick.
    const bool quick = qint64(key->timestamp() - at_) < doublePressMs;
    if ((state_ == State::Held && key->isAutoRepeat()) || quick) {
      state_ = State::Held;
      return true;
    }
  }
  if (onOpenButton && pressesButtons(key->key()) && !key->isAutoRepeat()) {
    state_ = State::OnButton;
    key_ = key->key();
    at_ = key->timestamp();
    releasedOnButton_ = !press;
  } else if (press && state_ != State::Held) {
    state_ = State::Idle;
  }
  return false;
}

void OpeningKey::buttonPressed() {
  if (state_ == State::OnButton)
    state_ = releasedOnButton_ ? State::Released : State::Held;
  else
    state_ = State::Idle;
}
