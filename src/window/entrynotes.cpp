#include "window/entrynotes.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <utility>

QValidator::State LengthLimit::validate(QString &input, int &position) const {
  // A cell copied from a spreadsheet carries a line break the operator cannot see in the box;
  // left there it would make the text no address, or a code the device cannot take.
  while (input.endsWith(QLatin1Char('\n')) || input.endsWith(QLatin1Char('\r')))
    input.chop(1);
  position = int(qMin(qsizetype(position), input.size()));
  return input.size() <= limit_ ? Acceptable : Invalid;
}

EnterAfterRefusal::EnterAfterRefusal(QLineEdit *box) : QObject(box) {
  connect(box, &QLineEdit::inputRejected, this, [this] { state_ = State::HeldAfterRefusal; });
  connect(box, &QLineEdit::textEdited, this, [this] { state_ = State::Sends; });
  box->installEventFilter(this);
}

bool EnterAfterRefusal::enterMaySend(QLineEdit *box) {
  auto *rule = box->findChild<EnterAfterRefusal *>(QString(), Qt::FindDirectChildrenOnly);
  return !rule || std::exchange(rule->state_, State::Sends) == State::Sends;
}

bool EnterAfterRefusal::eventFilter(QObject *watched, QEvent *event) {
  // A context menu takes the focus for a moment; the operator has not left the box.
  if (event->type() == QEvent::FocusOut &&
      static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason)
    state_ = State::Sends;
  return QObject::eventFilter(watched, event);
}

// Each note is one line in both languages: the only room in the window that covers no control
// or caption is a strip below the user code box, 368 by 15 pixels at 100 %.
QString openPortFirstNote() { return QStringLiteral("请先打开串口 · Open the port first."); }

QString enterHeldNote() {
  return QStringLiteral("未发送，再按回车发送 · Not sent; Enter again sends it.");
}

QString addressRefusedNote() {
  return QStringLiteral("地址为 0–99，至多两位数字 · The address is 0 to 99.");
}

QString userCodeRefusedNote(qsizetype limit) {
  return QStringLiteral("用户码至多 %1 个字符 · The user code holds %1 at most.").arg(limit);
}

QString choicesNotUsed(const QString &port, const QString &rate, const QString &parity,
                       const ChoiceTexts &used, bool opened) {
  QStringList chinese;
  QStringList english;
  if (!comNumberFromName(port)) {
    chinese.append(opened ? QStringLiteral("“%1” 不是列表中的串口名称，已打开 %2。")
                          : QStringLiteral("“%1” 不是列表中的串口名称，已尝试打开 %2。"));
    chinese.last() = chinese.last().arg(port, used.port);
    english.append((opened ? QStringLiteral("“%1” is not one of the list's port names; %2 was "
                                            "opened.")
                           : QStringLiteral("“%1” is not one of the list's port names; %2 was "
                                            "tried."))
                       .arg(port, used.port));
  }
  if (!settingsFromTable(rate, parity)) {
    QStringList zh;
    QStringList en;
    if (!rateEntry(rate)) {
      zh.append(QStringLiteral("“%1” 不是列表中的波特率").arg(rate));
      en.append(QStringLiteral("“%1” is not one of the list's rates").arg(rate));
    }
    if (!parityEntry(parity)) {
      zh.append(QStringLiteral("“%1” 不是列表中的校验位").arg(parity));
      en.append(QStringLiteral("“%1” is not one of the list's parities").arg(parity));
    }
    chinese.append(zh.join(QStringLiteral("，")) +
                   QStringLiteral("，波特率和校验位沿用 %1、%2。").arg(used.rate, used.parity));
    english.append(en.join(QStringLiteral(" and ")) +
                   QStringLiteral("; the rate and parity in force, %1 and %2, were kept.")
                       .arg(used.rate, used.parity));
  }
  if (chinese.isEmpty())
    return {};
  return chinese.join(QString()) + QLatin1Char('\n') + english.join(QLatin1Char(' '));
}
