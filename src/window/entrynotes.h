#pragma once

#include "serial/openport.h"

#include <QObject>
#include <QString>
#include <QValidator>

class QLineEdit;

// The words the window says about what the operator typed or chose and it did not take, kept
// apart from the handlers that say them.

// The character limit of an entry box. The box's own limit would cut a longer paste, or an
// emoji after the 31st character, to fit and say nothing; this refuses the whole edit
// instead, leaves the text as it was and lets the box say so (QLineEdit::inputRejected).
// Line breaks at the end of the text are dropped.
class LengthLimit : public QValidator {
public:
  LengthLimit(qsizetype limit, QObject *parent) : QValidator(parent), limit_(limit) {}

  State validate(QString &input, int &) const override;
  qsizetype limit() const { return limit_; }

private:
  qsizetype limit_;
};

// What an Enter in an entry box may do after a keystroke or paste the box refused. The box then
// shows something other than what the operator was typing, and an Enter typed right behind the
// refused key ("100⏎" typed fast) was meant for the text they had in mind: that Enter sends
// nothing, and its note says that the next one sends what the box shows. An edit the box takes,
// or leaving the box, ends the hold; a click on the button always sends what the box shows.
class EnterAfterRefusal : public QObject {
  Q_OBJECT

public:
  // Watches box, and lives as long as it.
  explicit EnterAfterRefusal(QLineEdit *box);

  // For an Enter in box: whether it may send. One held back lets the next one send.
  static bool enterMaySend(QLineEdit *box);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  enum class State { Sends, HeldAfterRefusal };
  State state_ = State::Sends;
};

// The note at a box whose Enter was held back after a refusal.
QString enterHeldNote();
// The note at a box whose Enter would press a button that is greyed until the port is open.
QString openPortFirstNote();
// The note at the address box for an input it did not take.
QString addressRefusedNote();
// The note at the user code box for an input that would have made the code longer than limit.
QString userCodeRefusedNote(qsizetype limit);

// What the operator is told when a list text named no entry: which text, and what was opened
// (or tried) in its place. Empty when every text was used.
QString choicesNotUsed(const QString &port, const QString &rate, const QString &parity,
                       const ChoiceTexts &used, bool opened);
