#include "support/pty.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Only a guard against a program that never ends: no check here bounds how long anything takes.
constexpr int finishMs = 20000;
const QByteArray reply("\x02ID=42 OK!!\r", 12);

// qelnor-cli on a pseudo-terminal that stands for a UART, what it does to the line noted in a file.
struct LineRun {
  PseudoTerminal device;
  QTemporaryDir folder;
  QProcess process;

  void start(const QStringList &arguments, const QString &setting) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("QELNOR_LINE_CALLS_DEVICE"), device.path());
    environment.insert(QStringLiteral("QELNOR_LINE_CALLS_LOG"), folder.filePath("calls"));
    environment.insert(setting.section(QLatin1Char('='), 0, 0),
                       setting.section(QLatin1Char('='), 1));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QELNOR_CLI_LINE_CALLS),
                  QStringList{QStringLiteral("--port"), device.path()} + arguments);
  }
  // The program has ended, whether or not the test's event loop has seen it end.
  bool finished() {
    return process.state() == QProcess::NotRunning || process.waitForFinished(finishMs);
  }
  QStringList calls() const {
    QFile file(folder.filePath("calls"));
    return file.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)
               : QStringList();
  }
  qint64 bytesRead() const {
    qint64 bytes = 0;
    for (const QString &call : calls())
      if (call.startsWith(QLatin1String("read ")))
        bytes += call.sliced(5).toLongLong();
    return bytes;
  }
  // The "event" of each JSON line the program wrote to the stream.
  static QStringList events(const QByteArray &lines, QList<QJsonObject> *objects = nullptr) {
    QStringList kinds;
    for (const QByteArray &line : lines.split('\n')) {
      const QJsonObject object = QJsonDocument::fromJson(line).object();
      if (object.isEmpty())
        continue;
      kinds.append(object.value(QLatin1String("event")).toString());
      if (objects)
        objects->append(object);
    }
    return kinds;
  }
};

} // namespace

class TestSession : public QObject {
  Q_OBJECT

private slots:
  void settingsStayUntilTheFrameHasLeft_data();
  void settingsStayUntilTheFrameHasLeft();
  void aReplyBeforeAHangUpIsShownThenTheLoss_data();
  void aReplyBeforeAHangUpIsShownThenTheLoss();
};

void TestSession::settingsStayUntilTheFrameHasLeft_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<bool>("answer");
  QTest::newRow("no reply awaited") << QStringList{"--wait", "0", "address", "42"} << false;
  QTest::newRow("after the reply") << QStringList{"--wait", "5", "address", "42"} << true;
}

// A UART still sends the frame's last bits when its driver has let go of them: the line's
// settings are put back, and the port closed, only once they have gone.
void TestSession::settingsStayUntilTheFrameHasLeft() {
  QFETCH(QStringList, arguments);
  QFETCH(bool, answer);
  LineRun run;
  run.start(QStringList{"--rate", "2400"} + arguments,
            QStringLiteral("QELNOR_LINE_CALLS_PACE=4167"));
  QByteArray wire;
  QTRY_VERIFY((wire += run.device.read(5), wire.endsWith('\r')));
  QCOMPARE(wire, QByteArray("ID42\r"));
  if (answer)
    run.device.write(reply);
  QVERIFY(run.finished());
  QCOMPARE(run.process.exitCode(), 0);
  const QStringList calls = run.calls();
  const qsizetype written = calls.indexOf(QStringLiteral("write 5"));
  const qsizetype drained = calls.indexOf(QStringLiteral("drained"), written);
  const qsizetype restored = calls.indexOf(QStringLiteral("tcsetattr"), written);
  QVERIFY2(written >= 0 && written < drained && drained < restored &&
               restored < calls.lastIndexOf(QStringLiteral("close")),
           qPrintable(calls.join(QLatin1Char(' '))));
}

void TestSession::aReplyBeforeAHangUpIsShownThenTheLoss_data() {
  QTest::addColumn<bool>("listen");
  QTest::addColumn<int>("status");
  QTest::newRow("the reply ends the run") << false << 0;
  QTest::newRow("listening") << true << 6;
}

// A device that answers and hangs up while the frame is still being seen off (its UART holds the
// last bits): the answer is shown, then the loss. The answer was what the run waited for, so it
// ends as sent; listening is cut short by the loss.
void TestSession::aReplyBeforeAHangUpIsShownThenTheLoss() {
  QFETCH(bool, listen);
  QFETCH(int, status);
  LineRun run;
  QStringList arguments{"--json", "--wait", "10", "address", "42"};
  if (listen)
    arguments.prepend(QStringLiteral("--listen"));
  run.start(arguments, QStringLiteral("QELNOR_LINE_CALLS_HOLD_DRAINS=1"));
  QByteArray wire;
  QTRY_VERIFY((wire += run.device.read(5), wire.endsWith('\r')));
  run.device.write(reply);
  // Once the program has the answer, the device hangs up; a hang-up empties what the system holds.
  QTRY_COMPARE(run.bytesRead(), reply.size());
  run.device.closeDevice();
  QVERIFY(run.finished());
  QCOMPARE(run.process.exitCode(), status);
  const QByteArray out = run.process.readAllStandardOutput();
  QCOMPARE(LineRun::events(out), (QStringList{"sent", "reply"}));
  QVERIFY2(out.contains("ID=42 OK!!"), out.constData());
  QList<QJsonObject> errors;
  QCOMPARE(LineRun::events(run.process.readAllStandardError(), &errors), QStringList{"error"});
  QCOMPARE(errors.at(0).value(QLatin1String("status")).toInt(), status);
  QVERIFY(errors.at(0).value(QLatin1String("description")).toString().contains("disconnected"));
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
