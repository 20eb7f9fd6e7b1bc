#include "cli/events.h"

#include "cli/arguments.h"

#include "device/backlog.h"
#include "device/failure.h"
#include "device/replytext.h"
#include "device/replywait.h"
#include "serial/serialport.h"

#include <QJsonDocument>
#include <QTextStream>
#include <csignal>

EventWriter::EventWriter(QTextStream &out, QTextStream &err, bool json, bool hex)
    : out_(out), err_(err), json_(json), hex_(hex) {}

// Each line is flushed at once: a script or a technician watching sees it when it happens.
void EventWriter::write(QTextStream &stream, const QJsonObject &event, const QString &text) {
  if (json_)
    stream << QJsonDocument(event).toJson(QJsonDocument::Compact) << Qt::endl;
  else
    stream << text << Qt::endl;
}

void EventWriter::sent(const QString &port, const QByteArray &frame) {
  // Sending is the normal case and says nothing unless the bytes were asked for.
  if (!json_ && !hex_)
    return;
  write(json_ ? out_ : err_,
        {{QStringLiteral("event"), QStringLiteral("sent")},
         {QStringLiteral("port"), port},
         {QStringLiteral("hex"), hexBytes(frame)}},
        QStringLiteral("%1 ← %2").arg(port, hexBytes(frame)));
}

void EventWriter::reply(const QByteArray &block) {
  const QString text = replyText(block);
  write(out_,
        {{QStringLiteral("event"), QStringLiteral("reply")},
         {QStringLiteral("text"), text},
         {QStringLiteral("hex"), hexBytes(block)}},
        hex_ ? QStringLiteral("%1  %2").arg(text, hexBytes(block)) : text);
}

// The window's line for stray bytes, which keeps the first few of a long run; a script gets
// them all.
void EventWriter::stray(const QByteArray &bytes) {
  const LineEvent event{LineEvent::Kind::Stray,
                        bytes.first(qMin<qsizetype>(bytes.size(), ReplyBacklog::strayBytesKept)), 0,
                        bytes.size()};
  write(json_ ? out_ : err_,
        {{QStringLiteral("event"), QStringLiteral("stray")},
         {QStringLiteral("count"), bytes.size()},
         {QStringLiteral("hex"), hexBytes(bytes)}},
        boxText({event}, 0));
}

void EventWriter::earlier(const QByteArray &block) {
  write(json_ ? out_ : err_,
        {{QStringLiteral("event"), QStringLiteral("earlier")},
         {QStringLiteral("text"), replyText(block)},
         {QStringLiteral("hex"), hexBytes(block)}},
        SerialPort::earlierReplyText(replyText(block)));
}

void EventWriter::failure(const Failure &failure, int status) {
  write(err_,
        {{QStringLiteral("event"), QStringLiteral("error")},
         {QStringLiteral("status"), status},
         {QStringLiteral("number"), failure.number()},
         {QStringLiteral("description"), failure.description()}},
        failureText(failure));
}

void EventWriter::noReply(int waitMs) {
  const QString text = noReplyText(waitMs);
  write(err_,
        {{QStringLiteral("event"), QStringLiteral("error")},
         {QStringLiteral("status"), NoReply},
         {QStringLiteral("description"), text}},
        text);
}

void EventWriter::notSent(qint64 frames, int status) {
  const QString text = SerialPort::notLeftText(frames);
  write(err_,
        {{QStringLiteral("event"), QStringLiteral("notSent")},
         {QStringLiteral("status"), status},
         {QStringLiteral("frames"), frames},
         {QStringLiteral("description"), text}},
        text);
}

void EventWriter::stopped(int signal, int status) {
  QString name = QStringLiteral("signal %1").arg(signal);
  if (signal == SIGINT)
    name = QStringLiteral("SIGINT");
  else if (signal == SIGTERM)
    name = QStringLiteral("SIGTERM");
#ifdef SIGHUP
  else if (signal == SIGHUP)
    name = QStringLiteral("SIGHUP");
#endif
  const QString text = QStringLiteral("已被 %1 中止。Stopped by %1.").arg(name);
  write(err_,
        {{QStringLiteral("event"), QStringLiteral("error")},
         {QStringLiteral("status"), status},
         {QStringLiteral("description"), text}},
        text);
}

void EventWriter::port(const QString &comName, const QString &device, const QString &description) {
  write(out_,
        {{QStringLiteral("event"), QStringLiteral("port")},
         {QStringLiteral("port"), comName},
         {QStringLiteral("device"), device},
         {QStringLiteral("description"), description}},
        QStringLiteral("%1\t%2\t%3").arg(comName, device, description));
}

void EventWriter::noPorts(int status) {
  const QString text = QStringLiteral("没有找到串口。No serial port was found.");
  write(err_,
        {{QStringLiteral("event"), QStringLiteral("error")},
         {QStringLiteral("status"), status},
         {QStringLiteral("description"), text}},
        text);
}

void EventWriter::tell(const QJsonObject &event, const QString &text) {
  write(json_ ? out_ : err_, event, text);
}
