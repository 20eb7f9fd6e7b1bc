#include "window/outcomestrip.h"

#include "device/codepage.h"
#include "device/replywait.h"

#include <QLabel>

QString shownFrame(const QByteArray &frame) {
  const QByteArray command = frame.endsWith('\r') ? frame.chopped(1) : frame;
  return fromCodePage936(command).value_or(QString::fromLatin1(command));
}

QString leavingWords() { return QStringLiteral("%1 发送中 · leaving"); }

QString outcomeWords(const RecordLine &line, QTime at, int waitMs) {
  const QString frame = QStringLiteral("%1");
  const QString time = at.toString(QStringLiteral("HH:mm:ss"));
  switch (line.outcome) {
  case Outcome::sent:
    return QStringLiteral("%1 已发送 · sent %2").arg(frame, time);
  case Outcome::answered:
    // A reply that came while the next frame was leaving names the frame before.
    return line.detail.isEmpty() ? QStringLiteral("%1 已回复 · answered %2").arg(frame, time)
                                 : QStringLiteral("%1 已回复（上一条）· answered (earlier)");
  case Outcome::noReply:
    return line.detail.isEmpty() ? frame + QStringLiteral("：") + noReplyText(waitMs)
                                 : QStringLiteral("%1：下一条前无回复 · no reply before the next");
  case Outcome::late:
    return QStringLiteral("%1 的回复迟到 · late reply %2").arg(frame, time);
  case Outcome::unasked:
    return QStringLiteral("未请求的回复 · unasked reply %1").arg(time);
  case Outcome::notSent:
    return QStringLiteral("%1 未发送 · not sent");
  case Outcome::lineFault:
    return QStringLiteral("线路故障，串口已关闭 · line fault: port closed");
  case Outcome::stopped:
    return QStringLiteral("%1 的回复不再等待 · no longer awaited");
  default:
    return {};
  }
}

void showOutcome(QLabel &strip, const QString &words, const QString &frame) {
  const auto with = [&words](const QString &shownFrame) {
    return words.contains(QLatin1String("%1")) ? words.arg(shownFrame) : words;
  };
  const QFontMetrics metrics = strip.fontMetrics();
  const int room = strip.contentsRect().width();
  const QString whole = with(frame);
  QString shown = whole;
  if (metrics.horizontalAdvance(whole) > room) {
    const int roomForFrame = room - metrics.horizontalAdvance(with(QString()));
    shown = metrics.elidedText(with(metrics.elidedText(frame, Qt::ElideMiddle, roomForFrame)),
                               Qt::ElideRight, room);
  }
  strip.setText(shown);
  // The name a screen reader reads; setting it tells it of the change.
  strip.setAccessibleName(whole);
}

QString recordStoppedText(const QString &problem) {
  return problem +
         QStringLiteral("\n记录无法写入，不再发送命令：请关闭窗口，用可写的记录重新启动。\n"
                        "Nothing more is sent, since it could not be recorded: close "
                        "the window and start it again with a record that can be "
                        "written.");
}
