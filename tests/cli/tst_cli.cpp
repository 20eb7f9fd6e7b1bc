#include "support/pty.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

constexpr int finishMs = 10000;

struct Run {
  int status = -1;
  QString out;
  QString err;
};

// The program with a pseudo-terminal as the device; it runs until finish() collects it.
struct Cli {
  PseudoTerminal device;
  QProcess process;

  void start(const QStringList &arguments) {
    process.start(QStringLiteral(QELNOR_CLI),
                  QStringList{QStringLiteral("--port"), device.path()} + arguments);
    QVERIFY(process.waitForStarted());
  }
  // What the program sent, once it has sent anything.
  QByteArray frame() {
    QByteArray bytes;
    for (int tries = 0; bytes.isEmpty() && tries < 100; ++tries)
      bytes = device.read();
    return bytes;
  }
  Run finish() {
    if (!process.waitForFinished(finishMs))
      process.kill();
    process.waitForFinished();
    Run run;
    if (process.exitStatus() == QProcess::NormalExit)
      run.status = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
  }
};

Run runWithDevice(const QStringList &arguments, QByteArray *sent) {
  Cli cli;
  cli.start(arguments);
  const Run run = cli.finish();
  *sent = cli.device.read();
  return run;
}

} // namespace

class TestCli : public QObject {
  Q_OBJECT

private slots:
  void commandsSendTheirFrames_data();
  void commandsSendTheirFrames();
  void refusedInputSendsNothing_data();
  void refusedInputSendsNothing();
  void repliesAndStrayBytesArePrinted_data();
  void repliesAndStrayBytesArePrinted();
  void silenceAndLossEndTheWait();
  void badPortsAndCommandLines_data();
  void badPortsAndCommandLines();
};

void TestCli::commandsSendTheirFrames_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<QByteArray>("frame");
  QTest::newRow("address") << QStringList{"address", "42"} << QByteArray("ID42\r");
  QTest::newRow("address as the window reads it")
      << QStringList{"--rate", "2400", "--parity", "even", "address", " 7.5"}
      << QByteArray("ID08\r");
  QTest::newRow("user code in GBK") << QStringList{"user-code", "彩屏A"}
                                    << QByteArray("*@-\xB2\xCA\xC6\xC1"
                                                  "A\r");
  QTest::newRow("power-on lock") << QStringList{"power-on-lock"}
                                 << QByteArray("@Power on lock enable\r");
  QTest::newRow("reset password") << QStringList{"reset-password"} << QByteArray("*2-IniP\r");
}

void TestCli::commandsSendTheirFrames() {
  QFETCH(QStringList, arguments);
  QFETCH(QByteArray, frame);
  QByteArray sent;
  const Run run = runWithDevice(QStringList{"--wait", "0"} + arguments, &sent);
  QCOMPARE(run.err, QString());
  QCOMPARE(run.status, 0);
  QCOMPARE(sent, frame);
}

void TestCli::refusedInputSendsNothing_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<QString>("error");
  QTest::newRow("address above 99") << QStringList{"address", "100"} << "Error 6\n";
  QTest::newRow("address no number") << QStringList{"address", "4x"} << "Error 13\n";
  QTest::newRow("line break in code") << QStringList{"user-code", "a\nb"} << "Error 5\n";
  QTest::newRow("outside GBK") << QStringList{"user-code", "😀"} << "Error 5\n";
  QTest::newRow("code too long") << QStringList{"user-code", QString(33, QLatin1Char('x'))}
                                 << "Error 5\n";
}

void TestCli::refusedInputSendsNothing() {
  QFETCH(QStringList, arguments);
  QFETCH(QString, error);
  QByteArray sent;
  const Run run = runWithDevice(arguments, &sent);
  QCOMPARE(run.status, 3);
  QVERIFY2(run.err.contains(error), qPrintable(run.err));
  QCOMPARE(sent, QByteArray());
  QCOMPARE(run.out, QString());
}

void TestCli::repliesAndStrayBytesArePrinted_data() {
  QTest::addColumn<bool>("json");
  QTest::newRow("text") << false;
  QTest::newRow("json") << true;
}

void TestCli::repliesAndStrayBytesArePrinted() {
  QFETCH(bool, json);
  const QByteArray reply("\x02ID=42 OK!!\r", 12);
  Cli cli;
  cli.start({"--wait", "1", json ? "--json" : "--hex", "address", "42"});
  QCOMPARE(cli.frame(), QByteArray("ID42\r"));
  // Stray bytes are told once the line has been silent; only then may the reply follow.
  cli.device.write("\x01\x02");
  cli.process.setReadChannel(json ? QProcess::StandardOutput : QProcess::StandardError);
  QByteArray told;
  while (!told.contains("stray") && cli.process.waitForReadyRead(finishMs))
    told += cli.process.readAll();
  QVERIFY2(told.contains("stray"), told.constData());
  cli.device.write(reply);
  const Run run = cli.finish();
  QCOMPARE(run.status, 0);

  if (!json) {
    QCOMPARE(run.out, QStringLiteral("ID=42 OK!!␍  02 49 44 3D 34 32 20 4F 4B 21 21 0D\n"));
    QVERIFY2(told.contains("2 stray bytes ignored before this reply: 01 02"), told.constData());
    return;
  }
  QStringList events;
  for (const QByteArray &line : (told + run.out.toUtf8()).split('\n')) {
    if (line.isEmpty())
      continue;
    const QJsonObject event = QJsonDocument::fromJson(line).object();
    events.append(event.value("event").toString());
    if (events.last() == "reply")
      QCOMPARE(event.value("text").toString(), QStringLiteral("ID=42 OK!!␍"));
    if (events.last() == "stray")
      QCOMPARE(event.value("hex").toString(), QStringLiteral("01 02"));
  }
  QCOMPARE(events, QStringList({"sent", "stray", "reply"}));
}

void TestCli::silenceAndLossEndTheWait() {
  QByteArray sent;
  const Run silent = runWithDevice({"--wait", "0.2", "reset-password"}, &sent);
  QCOMPARE(silent.status, 5);
  QCOMPARE(sent, QByteArray("*2-IniP\r"));
  QVERIFY2(silent.err.contains("No reply within 0.2 s"), qPrintable(silent.err));

  Cli cli;
  cli.start({"--wait", "10", "reset-password"});
  QCOMPARE(cli.frame(), QByteArray("*2-IniP\r"));
  cli.device.closeDevice();
  const Run lost = cli.finish();
  QCOMPARE(lost.status, 6);
  QVERIFY2(lost.err.contains("Error 57"), qPrintable(lost.err));
}

void TestCli::badPortsAndCommandLines_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("error");
  QTest::newRow("unknown port") << QStringList{"--port", "/dev/qelnor-absent", "address", "1"} << 4
                                << "Error 8002\n\n无效的端口号 Invalid port number\n"
                                   "/dev/qelnor-absent：找不到该设备 no such device\n";
  QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2 << "frobnicate";
  QTest::newRow("rate not in the list")
      << QStringList{"--rate", "300", "power-on-lock"} << 2 << "300";
  QTest::newRow("address missing") << QStringList{"address"} << 2 << "address";
  QTest::newRow("negative wait") << QStringList{"--wait", "-1", "power-on-lock"} << 2 << "-1";
}

void TestCli::badPortsAndCommandLines() {
  QFETCH(QStringList, arguments);
  QFETCH(int, status);
  QFETCH(QString, error);
  QProcess process;
  process.start(QStringLiteral(QELNOR_CLI), arguments);
  QVERIFY(process.waitForFinished(finishMs));
  QCOMPARE(process.exitCode(), status);
  const QString err = QString::fromUtf8(process.readAllStandardError());
  QVERIFY2(err.contains(error), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
