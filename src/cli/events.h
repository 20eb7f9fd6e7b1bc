#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class Failure;
class QTextStream;

// Tells what happens on the line, as text for a person or, with json, as one JSON object per
// line for a script. Replies and the port list go to out; everything else goes to err.
class EventWriter {
public:
  EventWriter(QTextStream &out, QTextStream &err, bool json, bool hex);

  void sent(const QString &port, const QByteArray &frame);
  void reply(const QByteArray &block);
  void stray(const QByteArray &bytes);
  void failure(const Failure &failure, int status);
  void noReply(int waitMs);
  void stopped(int signal, int status);
  void notSent(qint64 frames, int status);
  void port(const QString &comName, const QString &device, const QString &description);
  void noPorts(int status);
  // A message for the operator: standard error as text, standard output as a JSON event.
  void tell(const QJsonObject &event, const QString &text);

private:
  void write(QTextStream &stream, const QJsonObject &event, const QString &text);

  QTextStream &out_;
  QTextStream &err_;
  bool json_;
  bool hex_;
};
