// A commissioning run in the test's own event loop, a pseudo-terminal as the device and a pipe as
// the operator: so that a fault can be made to come in the very turn of a reply, and a reply in
// the very turn its wait runs out.
#include "support/pty.h"
#include "support/told.h"

#include "cli/commission.h"
#include "cli/events.h"

#include <QtTest>
#include <functional>
#include <unistd.h>

namespace {

constexpr int finishMs = 20000;
const QByteArray reply("\x02ID=42 OK!!\r", 12);

// What the run tells, one JSON event a line; each line is handed to onLine as it is written.
class Told : public QIODevice {
public:
  Told() { open(QIODevice::WriteOnly); }
  std::function<void(const QJsonObject &)> onLine;
  QList<QJsonObject> events;

protected:
  qint64 readData(char *, qint64) override { return -1; }
  qint64 writeData(const char *data, qint64 size) override {
    for (const QJsonObject &event : jsonLines(QByteArray(data, size))) {
      events.append(event);
      if (onLine)
        onLine(event);
    }
    return size;
  }
};

// One run: the plan in a folder of its own, the operator's Enter written to a pipe.
struct Run {
  QTemporaryDir folder;
  PseudoTerminal device;
  SerialPort port;
  Told told;
  QTextStream out{&told};
  QTextStream err{&told};
  EventWriter events{out, err, true, false};
  int answers[2] = {-1, -1};
  std::unique_ptr<Commission> commission;
  std::optional<int> status;

  Run() { QVERIFY(::pipe(answers) == 0); }
  // The reader may still be blocked on the pipe's other end; it ends when this end closes.
  ~Run() { ::close(answers[1]); }

  void start(const QByteArray &plan, int waitMs) {
    QFile file(folder.filePath("plan.csv"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(plan);
    file.close();
    Request request;
    request.command = Command::Commission;
    request.argument = file.fileName();
    request.port = device.path();
    request.portIsDevice = true;
    request.waitMs = waitMs;
    request.json = true;
    commission = std::make_unique<Commission>(request, events, port, answers[0]);
    QObject::connect(commission.get(), &Commission::finished, [this](int s) { status = s; });
    commission->start();
  }
  // Waits for the prompt for a device, then presses Enter.
  void confirm(int device) {
    QTRY_VERIFY_WITH_TIMEOUT(
        fieldsOf(told.events, {"device"}, "connect").contains(QString::number(device)), finishMs);
    QCOMPARE(::write(answers[1], "\n", 1), ssize_t(1));
  }
  // Waits for the frame, then answers it when told to.
  void serve(const QByteArray &frame, bool answer = true) {
    QByteArray bytes;
    QTRY_VERIFY_WITH_TIMEOUT((bytes += device.read(0)).endsWith('\r'), finishMs);
    QCOMPARE(bytes, frame);
    if (answer)
      device.write(reply);
  }
  void finish() { QTRY_VERIFY_WITH_TIMEOUT(status.has_value(), finishMs); }
  // "line command outcome" of each record line of the plan's devices.
  QStringList recorded() const {
    QFile file(folder.filePath("plan.record.jsonl"));
    return file.open(QIODevice::ReadOnly)
               ? fieldsOf(jsonLines(file.readAll()), {"line", "command", "outcome"})
               : QStringList();
  }
};

} // namespace

class TestCommission : public QObject {
  Q_OBJECT

private slots:
  void lineFaultsAndTheOutcome_data();
  void lineFaultsAndTheOutcome();
  void lateReplyIsRecordedAgainstItsOwnFrame();
  void replyWhileTheNextFrameLeavesIsTheEarlierOnes();
};

void TestCommission::lineFaultsAndTheOutcome_data() {
  QTest::addColumn<bool>("withReply");
  QTest::addColumn<QStringList>("recorded");
  QTest::addColumn<int>("notSent");
  QTest::addColumn<int>("status");
  const QStringList second = answered("3", "address") + answered("3", "reset-password");
  // The reply is recorded, then the loss; the device's other frame is not sent, and the run
  // moves on to the next device once, not twice.
  QTest::newRow("reply and fault in one turn")
      << true << answered("2", "address") + QStringList{"2  line-fault"} + second << 1 << 9;
  // The fault stays in the record and the summary, but every command was answered.
  QTest::newRow("fault while the operator is asked")
      << false
      << answered("2", "address") + answered("2", "reset-password") + QStringList{"3  line-fault"} +
             second
      << 0 << 0;
}

void TestCommission::lineFaultsAndTheOutcome() {
  QFETCH(bool, withReply);
  QFETCH(QStringList, recorded);
  QFETCH(int, notSent);
  QFETCH(int, status);
  Run run;
  const auto pull = [&run] {
    run.port.setPortOpen(false);
    emit run.port.Failed(Failure(FailureNumber::DeviceIo, QStringLiteral("pulled")));
  };
  run.start("address,reset_password\n1,yes\n2,yes\n", finishMs);
  // After the run's own handler, in the same emission: the fault comes in the reply's turn.
  bool pulled = false;
  if (withReply)
    QObject::connect(&run.port, &SerialPort::OnComm, [&] {
      if (!std::exchange(pulled, true))
        pull();
    });
  run.confirm(1);
  run.serve("ID01\r");
  if (!withReply) {
    run.serve("*2-IniP\r");
    QTRY_VERIFY_WITH_TIMEOUT(fieldsOf(run.told.events, {"device"}, "connect").contains("2"),
                             finishMs);
    pull();
  }
  run.confirm(2);
  run.serve("ID02\r");
  run.serve("*2-IniP\r");
  run.finish();
  QCOMPARE(run.status.value_or(-1), status);
  QCOMPARE(run.device.read(), QByteArray());
  QCOMPARE(run.recorded(), recorded);
  QCOMPARE(fieldsOf(run.told.events, {"device", "commands"}, "connect"),
           QStringList({"1 address,reset-password", "2 address,reset-password"}));
  QCOMPARE(fieldsOf(run.told.events, {"status", "line_faults", "not_sent"}, "summary"),
           QStringList{QStringLiteral("%1 1 %2").arg(status).arg(notSent)});
}

// The reply comes just after the wait has run out: it is the address frame's, recorded late, and
// the next frame waits for a quiet line instead of taking it. (That --resume sends a frame recorded
// late again is the record reader's own test.)
void TestCommission::lateReplyIsRecordedAgainstItsOwnFrame() {
  Run run;
  QByteArray wire;
  run.told.onLine = [&](const QJsonObject &event) {
    if (event.value("status").toInt() == ExitStatus::NoReply) {
      wire = run.device.read(0);
      run.device.write(reply);
    }
  };
  run.start("address,reset_password\n1,yes\n", 1000);
  run.confirm(1);
  run.serve("ID01\r", false);
  run.serve("*2-IniP\r");
  run.finish();
  QCOMPARE(wire, QByteArray());
  QCOMPARE(run.status.value_or(-1), int(ExitStatus::NotAllAnswered));
  QCOMPARE(run.recorded(), QStringList({"2 address sent", "2 address no-reply", "2 address late"}) +
                               answered("2", "reset-password"));
  QCOMPARE(fieldsOf(run.told.events, {"answered", "no_reply", "late"}, "summary"),
           QStringList{"1 1 1"});
}

// The port tells a reply that came while the next frame was still leaving as an earlier one: it
// is the frame's before, whose wait and quiet ran out, recorded late against that frame and never
// taken for the next frame's answer. (How the port tells such a reply is the port's own test.)
void TestCommission::replyWhileTheNextFrameLeavesIsTheEarlierOnes() {
  Run run;
  run.told.onLine = [&](const QJsonObject &event) {
    if (event.value("event").toString() == "sent" &&
        event.value("hex").toString().startsWith("2A 40 2D")) {
      emit run.port.EarlierReply(reply);
      run.device.write(reply);
    }
  };
  run.start("address,user_code\n1,A1\n", 300);
  run.confirm(1);
  run.serve("ID01\r", false);
  run.finish();
  QCOMPARE(run.recorded(), QStringList({"2 address sent", "2 address no-reply", "2 address late"}) +
                               answered("2", "user-code"));
  QCOMPARE(fieldsOf(run.told.events, {"text"}, "earlier"), QStringList{"ID=42 OK!!␍"});
  QCOMPARE(fieldsOf(run.told.events, {"answered", "no_reply", "late"}, "summary"),
           QStringList{"1 1 1"});
}

QTEST_GUILESS_MAIN(TestCommission)
#include "tst_commission.moc"
