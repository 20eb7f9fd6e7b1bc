#pragma once

#include "serial/openport.h"

#include <QString>
#include <QValidator>

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
