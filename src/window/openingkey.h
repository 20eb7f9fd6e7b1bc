#pragma once

#include <QtGlobal>

class QEvent;

// The key that pressed the open button. Opening hands the focus to the address box, so the key's
// repeats while it is held, or a second press of it a moment after it was let go, would land
// there and send the address the box holds (or dismiss a box unread). Those presses belong to
// the opening and are taken by nobody. A click, a press of another key once the key is up, or
// the same key pressed doublePressMs or more after it was let go is the operator's next move and
// goes where it is aimed.
class OpeningKey {
public:
  static constexpr int doublePressMs = 500;

  // Sees every input event before it is delivered, onOpenButton when the open button is its
  // receiver. Returns whether the event belongs to the opening and is to be dropped.
  bool drops(QEvent *event, bool onOpenButton);
  // The open button was pressed, by the event seen last.
  void buttonPressed();

private:
  enum class State {
    Idle,
    // The last input was one of the keys that press the open button, on it.
    OnButton,
    // The open button was pressed by the key, which is still down, or was let go at at_.
    Held,
    Released,
  };
  State state_ = State::Idle;
  int key_ = 0;
  quint64 at_ = 0;
  bool releasedOnButton_ = false;
};
