#pragma once

#include "common/record.h"
#include "device/frames.h"

#include <QList>
#include <QObject>
#include <QTimer>

class Failure;

// Follows each frame the window sends to what came of it, told through happened as the line a
// record holds for it: sent once its last bit has left, then answered, no reply within the wait,
// or late. A reply belongs to the frame that left last before it, also when it came while a
// later frame was still leaving; a frame that leaves while the one before still awaits its reply
// ends that wait, since what comes after it can no longer be told apart.
class CommandOutcomes : public QObject {
  Q_OBJECT

public:
  explicit CommandOutcomes(QObject *parent = nullptr);

  int waitMs() const { return waitMs_; }

  // A frame given to the port, which it sends after those given before.
  void handed(DeviceCommand command, const QByteArray &frame);
  void left(const QByteArray &frame);
  // whileLeaving: the reply came while a later frame was on its way out.
  void reply(const QByteArray &block, bool whileLeaving);
  void stray(const QByteArray &bytes);
  void lineFault(const Failure &failure);
  // The last frames handed over were given up before the system had them.
  void discarded(qint64 frames);
  // The port has closed: a reply awaited no longer is, and what had not left was not sent.
  void closed();

signals:
  void happened(const RecordLine &line);

private:
  struct Frame {
    QString command;
    QString address;
    QByteArray frame;
  };
  // Where the frame that left last is.
  enum class Last { None, Awaiting, Answered, Unanswered };

  void ReplyWait_Timer();
  void tell(const Frame &frame, Outcome outcome, const QByteArray &reply = {},
            const QString &detail = {});
  void notSent(const QList<Frame> &frames);

  int waitMs_;
  QTimer wait_;
  QList<Frame> leaving_;
  Frame last_;
  Last state_ = Last::None;
};

// The record's detail for a reply that came while the next frame was leaving, and for a frame
// whose wait the next frame ended.
QString whileNextLeftDetail();
QString nextLeftFirstDetail();
