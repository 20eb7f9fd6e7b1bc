#include "support/pty.h"
#include "support/told.h"

#include "cli/events.h"
#include "cli/linereader.h"
#include "cli/portlist.h"
#include "common/csv.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Only a guard against a program that never ends: no check here bounds how long anything takes.
constexpr int finishMs = 20000;
// Longer than any test runs: a program that waits it out is stopped by finishMs and fails.
const QString longWait = QStringLiteral("3600");
const QByteArray reply("\x02ID=42 OK!!\r", 12);

// A UTF-8 locale as a terminal has one, whatever the test runner's is.
QProcessEnvironment environment(const QString &locale = QStringLiteral("C.UTF-8")) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("LC_ALL"), locale);
  return environment;
}

struct Run {
  int status = -1;
  QString out;
  QString err;
};

// The program with a pseudo-terminal as the device; it runs until finish() collects it.
struct Cli {
  PseudoTerminal device;
  QProcess process;
  QString program = QStringLiteral(QELNOR_CLI);

  void start(const QStringList &arguments) {
    if (process.processEnvironment().isEmpty())
      process.setProcessEnvironment(environment());
    process.start(program, QStringList{QStringLiteral("--port"), device.path()} + arguments);
    QVERIFY(process.waitForStarted());
  }
  QByteArray frame() { return device.readFrame(finishMs); }
  // Waits for the next line the program writes to its standard output and returns it.
  QByteArray nextLine() {
    process.setReadChannel(QProcess::StandardOutput);
    while (!process.canReadLine() && process.waitForReadyRead(finishMs)) {
    }
    return process.readLine();
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

// The program built with the tests' stand-in for the C library's calls on the line (linecalls.h):
// the device stands for a UART, and what the program does to it is noted in a file.
struct LineCalls : Cli {
  QTemporaryDir folder;

  LineCalls(const QString &setting, const QString &value) {
    program = QStringLiteral(QELNOR_CLI_LINE_CALLS);
    QProcessEnvironment settings = environment();
    settings.insert("QELNOR_LINE_CALLS_DEVICE", device.path());
    settings.insert("QELNOR_LINE_CALLS_LOG", folder.filePath("calls"));
    settings.insert(setting, value);
    process.setProcessEnvironment(settings);
  }
  QStringList calls() const {
    QFile file(folder.filePath("calls"));
    return file.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts)
               : QStringList();
  }
  qint64 bytesRead() const {
    qint64 bytes = 0;
    for (const QString &call : calls())
      if (call.startsWith("read "))
        bytes += call.sliced(5).toLongLong();
    return bytes;
  }
};

Run runWithDevice(const QStringList &arguments, QByteArray *sent,
                  const QString &locale = QStringLiteral("C.UTF-8")) {
  Cli cli;
  cli.process.setProcessEnvironment(environment(locale));
  cli.start(arguments);
  const Run run = cli.finish();
  *sent = cli.device.read();
  return run;
}

// A commissioning run: the plan in folder, the operator's answers on standard input.
struct Commissioning : Cli {
  QString folder;

  explicit Commissioning(const QString &planFolder) : folder(planFolder) {}
  QString plan() const { return folder + "/plan.csv"; }
  QString record(bool json = false) const { return recordIn(folder, json); }
  static QString recordIn(const QString &folder, bool json) {
    return folder + (json ? "/plan.record.jsonl" : "/plan.record.csv");
  }
  void writePlan(const QByteArray &bytes) {
    QFile file(plan());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  }
  void run(const QStringList &options, const QByteArray &answers) {
    start(options + QStringList{"commission", plan()});
    process.write(answers);
    // Written now: nothing here runs an event loop that would write it later.
    process.waitForBytesWritten(finishMs);
    process.closeWriteChannel();
  }
  // Each frame as the device reads it, answered when answer is set.
  void serve(const QByteArrayList &frames, bool answer = true) {
    for (const QByteArray &expected : frames) {
      QCOMPARE(frame(), expected);
      if (answer)
        device.write(reply);
    }
  }
  // Each prompt the run showed, as "device command,command", from the text or the events.
  static QStringList prompts(const Run &run, bool json) {
    if (json)
      return fieldsOf(jsonLines(run.out.toUtf8()), {"device", "commands"}, "connect");
    QStringList prompts;
    static const QRegularExpression prompt(
        R"(Device (\d+) of \d+ — address \d+ \(to send: ([^)]*)\))");
    for (auto match = prompt.globalMatch(run.err); match.hasNext();) {
      const auto found = match.next();
      prompts.append(found.captured(1) + " " + found.captured(2).replace(", ", ","));
    }
    return prompts;
  }
  // "line command outcome" of each line of the record, after checking its time and settings.
  QStringList recorded(bool json = false) {
    QFile file(record(json));
    if (!file.open(QIODevice::ReadOnly))
      return {};
    QStringList lines;
    for (const QByteArray &line : file.readAll().split('\n')) {
      QStringList fields;
      if (json) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        for (const char *key : {"line", "command", "outcome", "frame_hex", "settings", "time"})
          fields.append(object.value(key).toVariant().toString());
      } else {
        const QStringList values = csvFields(QString::fromUtf8(line)).value_or(QStringList());
        if (values.size() != 11 || values[1] == "line")
          continue;
        fields = QStringList{values[1], values[5], values[9], values[6], values[4], values[0]};
      }
      if (fields[0].isEmpty())
        continue;
      if (!fields[1].isEmpty() && fields[4] != "2400,n,8,1")
        return {"settings " + fields[4]};
      // The local time with its offset from UTC, to the millisecond.
      static const QRegularExpression time(QRegularExpression::anchoredPattern(
          R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)"));
      if (!time.match(fields[5]).hasMatch())
        return {"time " + fields[5]};
      lines.append(fields.mid(0, 3).join(' '));
    }
    return lines;
  }
};

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
  void endsOnTheFirstReply_data();
  void endsOnTheFirstReply();
  void listenPrintsEveryReplyOfTheWait();
  void defaultLineIsTheWindows();
  void silenceAndLossEndTheWait();
  void signalsEndTheRunWithTheLineRestored();
  void settingsStayUntilTheFrameHasLeft_data();
  void settingsStayUntilTheFrameHasLeft();
  void aReplyBeforeAHangUpIsShownThenTheLoss_data();
  void aReplyBeforeAHangUpIsShownThenTheLoss();
  void aFrameThatCannotLeaveIsNotSent();
  void outputThatCannotBeWrittenFails();
  void badPortsAndCommandLines_data();
  void badPortsAndCommandLines();
  void helpAndVersion_data();
  void helpAndVersion();
  void worksUnderTheCLocale();
  void commissionSendsAndRecordsInOrder_data();
  void commissionSendsAndRecordsInOrder();
  void commissionRefusesBadPlans_data();
  void commissionRefusesBadPlans();
  void commissionResumesWhereItStopped_data();
  void commissionResumesWhereItStopped();
  void commissionGivesUpFramesThatCannotLeave();
  void commissionCtrlCEndsBetweenFrames();
  void commissionTakesOnePressPerDevice_data();
  void commissionTakesOnePressPerDevice();
  void listSaysWhenThereIsNoPort_data();
  void listSaysWhenThereIsNoPort();
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
  QTest::newRow("options after the command")
      << QStringList{"address", "42", "--parity=odd"} << QByteArray("ID42\r");
  QTest::newRow("user code starting with a dash after --")
      << QStringList{"user-code", "--", "-x"} << QByteArray("*@--x\r");
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
  QTest::addColumn<bool>("listen");
  QTest::newRow("text") << false << false;
  QTest::newRow("json") << true << false;
  QTest::newRow("text, listening") << false << true;
  QTest::newRow("json, listening") << true << true;
}

void TestCli::repliesAndStrayBytesArePrinted() {
  QFETCH(bool, json);
  QFETCH(bool, listen);
  Cli cli;
  // Listening lasts the whole wait, so here the device's hang-up ends it: how long the
  // exchange takes on a busy machine is not this test's subject.
  QStringList arguments{"--wait", longWait, json ? "--json" : "--hex"};
  if (listen)
    arguments.append("--listen");
  cli.start(arguments + QStringList{"address", "42"});
  QCOMPARE(cli.frame(), QByteArray("ID42\r"));
  // Stray bytes are told once the line has been silent; only then may the reply follow.
  cli.device.write("\x01\x02");
  cli.process.setReadChannel(json ? QProcess::StandardOutput : QProcess::StandardError);
  QByteArray told;
  while (!told.contains("stray") && cli.process.waitForReadyRead(finishMs))
    told += cli.process.readAll();
  QVERIFY2(told.contains("stray"), told.constData());
  cli.device.write(reply);
  const QByteArray replyLine = listen ? cli.nextLine() : QByteArray();
  if (listen)
    cli.device.closeDevice();
  Run run = cli.finish();
  QCOMPARE(run.status, listen ? 6 : 0);
  run.out.prepend(QString::fromUtf8(replyLine));

  if (!json) {
    QCOMPARE(run.out, QStringLiteral("ID=42 OK!!␍  02 49 44 3D 34 32 20 4F 4B 21 21 0D\n"));
    QVERIFY2(told.contains("2 stray bytes ignored before this reply: 01 02"), told.constData());
    return;
  }
  const QList<QJsonObject> events = jsonLines(told + run.out.toUtf8());
  QCOMPARE(fieldsOf(events, {"event"}), QStringList({"sent", "stray", "reply"}));
  QCOMPARE(fieldsOf(events, {"hex"}, "stray"), QStringList{"01 02"});
  QCOMPARE(fieldsOf(events, {"text"}, "reply"), QStringList{"ID=42 OK!!␍"});
}

void TestCli::endsOnTheFirstReply_data() {
  QTest::addColumn<bool>("json");
  QTest::newRow("text") << false;
  QTest::newRow("json") << true;
}

// The wait is an hour: the program ends because the reply came, not because the wait ran out.
void TestCli::endsOnTheFirstReply() {
  QFETCH(bool, json);
  Cli cli;
  QStringList arguments{"--wait", longWait, "address", "42"};
  if (json)
    arguments.prepend("--json");
  cli.start(arguments);
  QCOMPARE(cli.frame(), QByteArray("ID42\r"));
  cli.device.write(reply);
  const Run run = cli.finish();
  QCOMPARE(run.status, 0);
  QCOMPARE(run.err, QString());
  if (!json) {
    QCOMPARE(run.out, QStringLiteral("ID=42 OK!!␍\n"));
    return;
  }
  QCOMPARE(fieldsOf(jsonLines(run.out.toUtf8()), {"event", "hex"}),
           QStringList({"sent 49 44 34 32 0D", "reply 02 49 44 3D 34 32 20 4F 4B 21 21 0D"}));
}

// A device that answers twice: the second reply comes only after the first has been printed,
// and is printed too; the run ends when the wait is over, with success.
void TestCli::listenPrintsEveryReplyOfTheWait() {
  Cli cli;
  // Long enough for the exchange on a machine that stops the test for most of its time.
  cli.start({"--listen", "--wait", "8", "power-on-lock"});
  QCOMPARE(cli.frame(), QByteArray("@Power on lock enable\r"));
  cli.device.write(reply);
  QCOMPARE(cli.nextLine(), QByteArray("ID=42 OK!!␍\n"));
  QCOMPARE(cli.process.state(), QProcess::Running);
  cli.device.write(QByteArray("\x02LOCK ON   \r", 12));
  const Run run = cli.finish();
  QCOMPARE(run.status, 0);
  QCOMPARE(run.out, QStringLiteral("LOCK ON   ␍\n"));
  QCOMPARE(run.err, QString());

  // Listening without any reply is the same silence as without listening.
  QByteArray sent;
  const Run silent = runWithDevice({"--listen", "--wait", "0.2", "reset-password"}, &sent);
  QCOMPARE(silent.status, 5);
  QCOMPARE(sent, QByteArray("*2-IniP\r"));
}

// Without --rate and --parity the line is what the window opens with when its lists are left
// as they start: 2400 baud, no parity, 8 data bits, 1 stop bit.
void TestCli::defaultLineIsTheWindows() {
  Cli cli;
  cli.start({"--wait", longWait, "reset-password"});
  QCOMPARE(cli.frame(), QByteArray("*2-IniP\r"));
  termios line{};
  QVERIFY(cli.device.lineSettings(line));
  QCOMPARE(cfgetospeed(&line), speed_t(B2400));
  QCOMPARE(cfgetispeed(&line), speed_t(B2400));
  QCOMPARE(line.c_cflag & PARENB, tcflag_t(0));
  QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
  QCOMPARE(line.c_cflag & CSTOPB, tcflag_t(0));
  cli.device.write(reply);
  QCOMPARE(cli.finish().status, 0);
}

void TestCli::silenceAndLossEndTheWait() {
  QByteArray sent;
  const Run silent = runWithDevice({"--wait", "0.2", "reset-password"}, &sent);
  QCOMPARE(silent.status, 5);
  QCOMPARE(sent, QByteArray("*2-IniP\r"));
  QVERIFY2(silent.err.contains("No reply within 0.2 s"), qPrintable(silent.err));
  // A wait shorter than the timer counts is rounded up, never turned into no wait at all.
  const Run brief = runWithDevice({"--wait", "0.0001", "reset-password"}, &sent);
  QCOMPARE(brief.status, 5);
  QVERIFY2(brief.err.contains("No reply within 0.001 s"), qPrintable(brief.err));

  Cli cli;
  cli.start({"--wait", "10", "reset-password"});
  QCOMPARE(cli.frame(), QByteArray("*2-IniP\r"));
  cli.device.closeDevice();
  const Run lost = cli.finish();
  QCOMPARE(lost.status, 6);
  QVERIFY2(lost.err.contains("Error 57"), qPrintable(lost.err));
}

// Ctrl+C while listening ends the run as the window's signals end it: the line is put back as
// it was found, and a script learns that the run was stopped. An ignored hang-up stays ignored.
void TestCli::signalsEndTheRunWithTheLineRestored() {
  Cli cli;
  cli.process.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
  termios before{};
  QVERIFY(cli.device.lineSettings(before));
  cli.start({"--listen", "--wait", longWait, "--json", "--rate", "9600", "power-on-lock"});
  QVERIFY(cli.nextLine().contains("sent"));
  termios during{};
  QVERIFY(cli.device.lineSettings(during));
  QVERIFY(cfgetospeed(&during) != cfgetospeed(&before));
  ::kill(pid_t(cli.process.processId()), SIGHUP);
  ::kill(pid_t(cli.process.processId()), SIGINT);
  const Run run = cli.finish();
  QCOMPARE(run.status, 128 + SIGINT);
  QVERIFY2(run.err.contains("Stopped by SIGINT"), qPrintable(run.err));
  termios after{};
  QVERIFY(cli.device.lineSettings(after));
  QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
}

void TestCli::settingsStayUntilTheFrameHasLeft_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<bool>("answer");
  QTest::newRow("no reply awaited") << QStringList{"--wait", "0", "address", "42"} << false;
  QTest::newRow("after the reply") << QStringList{"--wait", longWait, "address", "42"} << true;
}

// A UART still sends the frame's last bits when its driver has let go of them: the line's
// settings are put back, and the port closed, only once they have gone.
void TestCli::settingsStayUntilTheFrameHasLeft() {
  QFETCH(QStringList, arguments);
  QFETCH(bool, answer);
  LineCalls cli("QELNOR_LINE_CALLS_PACE", "4167");
  cli.start(QStringList{"--rate", "2400"} + arguments);
  QCOMPARE(cli.frame(), QByteArray("ID42\r"));
  if (answer)
    cli.device.write(reply);
  QCOMPARE(cli.finish().status, 0);
  const QStringList calls = cli.calls();
  const qsizetype written = calls.indexOf("write 5");
  const qsizetype drained = calls.indexOf("drained", written);
  const qsizetype restored = calls.indexOf("tcsetattr", written);
  QVERIFY2(written >= 0 && written < drained && drained < restored &&
               restored < calls.lastIndexOf("close"),
           qPrintable(calls.join(' ')));
}

void TestCli::aReplyBeforeAHangUpIsShownThenTheLoss_data() {
  QTest::addColumn<bool>("listen");
  QTest::addColumn<int>("status");
  QTest::newRow("the reply ends the run") << false << 0;
  QTest::newRow("listening") << true << 6;
}

// A device that answers and hangs up while the frame is still being seen off (its UART holds the
// last bits): the answer is shown, then the loss. The answer was what the run waited for, so it
// ends as sent; listening is cut short by the loss.
void TestCli::aReplyBeforeAHangUpIsShownThenTheLoss() {
  QFETCH(bool, listen);
  QFETCH(int, status);
  LineCalls cli("QELNOR_LINE_CALLS_HOLD_DRAINS", "1");
  cli.start((listen ? QStringList{"--listen"} : QStringList()) +
            QStringList{"--json", "--wait", longWait, "address", "42"});
  QCOMPARE(cli.frame(), QByteArray("ID42\r"));
  cli.device.write(reply);
  // Once the program has the answer, the device hangs up; a hang-up empties what the system holds.
  QTRY_COMPARE_WITH_TIMEOUT(cli.bytesRead(), reply.size(), finishMs);
  cli.device.closeDevice();
  const Run run = cli.finish();
  QCOMPARE(run.status, status);
  QCOMPARE(fieldsOf(jsonLines(run.out.toUtf8()), {"event", "hex"}),
           QStringList({"sent 49 44 34 32 0D", "reply 02 49 44 3D 34 32 20 4F 4B 21 21 0D"}));
  const QList<QJsonObject> errors = jsonLines(run.err.toUtf8());
  QCOMPARE(fieldsOf(errors, {"event", "status"}),
           QStringList{QStringLiteral("error %1").arg(status)});
  QVERIFY(fieldsOf(errors, {"description"}).value(0).contains("disconnected"));
}

// A device that has stopped reading: the frame does not leave, the run says so and ends with a
// status of its own, and nothing of the frame reaches the device once it reads again.
void TestCli::aFrameThatCannotLeaveIsNotSent() {
  Cli cli;
  cli.device.stopReading();
  cli.start({"--json", "--wait", "0", "power-on-lock"});
  const Run run = cli.finish();
  cli.device.readAgain();
  QCOMPARE(cli.device.read(), QByteArray());
  QCOMPARE(run.status, 7);
  QCOMPARE(run.out, QString());
  QCOMPARE(fieldsOf(jsonLines(run.err.toUtf8()), {"event", "frames"}), QStringList{"notSent 1"});
}

// A reply printed to a full disk reached no one: the run does not end as a success.
void TestCli::outputThatCannotBeWrittenFails() {
  Cli cli;
  cli.process.setStandardOutputFile(QStringLiteral("/dev/full"));
  cli.start({"--wait", longWait, "address", "42"});
  QCOMPARE(cli.frame(), QByteArray("ID42\r"));
  cli.device.write(reply);
  QCOMPARE(cli.finish().status, 8);

  QProcess version;
  version.setStandardOutputFile(QStringLiteral("/dev/full"));
  version.start(QStringLiteral(QELNOR_CLI), {"--version"});
  QVERIFY(version.waitForFinished(finishMs));
  QCOMPARE(version.exitCode(), 8);
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
  QTest::newRow("parity quoted as typed")
      << QStringList{"--parity", "none2", "power-on-lock"} << 2 << "“none2”";
  QTest::newRow("unknown option") << QStringList{"--bogus", "power-on-lock"} << 2
                                  << "未知选项 Unknown option: --bogus";
  QTest::newRow("value missing") << QStringList{"power-on-lock", "--port"} << 2 << "--port";
  QTest::newRow("empty port") << QStringList{"--port=", "power-on-lock"} << 2 << "--port";
  QTest::newRow("flag with a value") << QStringList{"--hex=1", "power-on-lock"} << 2 << "--hex";
  QTest::newRow("encoding without a plan")
      << QStringList{"--encoding", "gbk", "user-code", "x"} << 2 << "--encoding";
  QTest::newRow("unknown encoding")
      << QStringList{"--encoding", "latin1", "commission", "p.csv"} << 2 << "“latin1”";
  QTest::newRow("plan option without a plan")
      << QStringList{"--resume", "power-on-lock"} << 2 << "--resume";
  QTest::newRow("plan without waiting")
      << QStringList{"--wait", "0", "commission", "p.csv"} << 2 << "--wait 0";
  QTest::newRow("too many words") << QStringList{"address", "4", "2"} << 2
                                  << "address 需要 1 个参数";
}

void TestCli::badPortsAndCommandLines() {
  QFETCH(QStringList, arguments);
  QFETCH(int, status);
  QFETCH(QString, error);
  QProcess process;
  process.setProcessEnvironment(environment());
  process.start(QStringLiteral(QELNOR_CLI), arguments);
  QVERIFY(process.waitForFinished(finishMs));
  QCOMPARE(process.exitCode(), status);
  const QString err = QString::fromUtf8(process.readAllStandardError());
  QVERIFY2(err.contains(error), qPrintable(err));
  if (status == 2) {
    QVERIFY2(err.contains("用法见 See: qelnor-cli --help"), qPrintable(err));
    QVERIFY2(!err.contains("None2"), qPrintable(err));
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
  }
}

void TestCli::helpAndVersion_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<QStringList>("said");
  const QStringList help{"Usage: qelnor-cli [OPTION]... COMMAND",
                         "--listen",
                         "2400 by default",
                         "默认 2400",
                         "none by default",
                         "退出状态"};
  QTest::newRow("--help") << QStringList{"--help"} << help;
  QTest::newRow("-h") << QStringList{"-h"} << help;
  QTest::newRow("help wins over a command") << QStringList{"address", "--help"} << help;
  QTest::newRow("--version") << QStringList{"--version"} << QStringList{"qelnor-cli 2.0\n"};
}

void TestCli::helpAndVersion() {
  QFETCH(QStringList, arguments);
  QFETCH(QStringList, said);
  QProcess process;
  process.setProcessEnvironment(environment());
  process.start(QStringLiteral(QELNOR_CLI), arguments);
  QVERIFY(process.waitForFinished(finishMs));
  QCOMPARE(process.exitStatus(), QProcess::NormalExit);
  QCOMPARE(process.exitCode(), 0);
  QCOMPARE(process.readAllStandardError(), QByteArray());
  const QString out = QString::fromUtf8(process.readAllStandardOutput());
  for (const QString &words : said)
    QVERIFY2(out.contains(words), qPrintable(words + " not in:\n" + out));
}

// Under the C locale the program says nothing about the locale on standard error (a script
// that reads its JSON errors there would choke on it), reads its arguments as UTF-8 and writes
// UTF-8.
void TestCli::worksUnderTheCLocale() {
  QByteArray sent;
  const Run run = runWithDevice({"--wait", "0", "user-code", "彩屏A"}, &sent, QStringLiteral("C"));
  QCOMPARE(run.err, QString());
  QCOMPARE(run.status, 0);
  QCOMPARE(sent, QByteArray("*@-\xB2\xCA\xC6\xC1"
                            "A\r"));

  Cli cli;
  cli.process.setProcessEnvironment(environment(QStringLiteral("C")));
  cli.start({"--wait", longWait, "address", "42"});
  QCOMPARE(cli.frame(), QByteArray("ID42\r"));
  cli.device.write(QByteArray("\x02\xB2\xCA\xC6\xC1 OK!!!\r", 12));
  const Run replied = cli.finish();
  QCOMPARE(replied.err, QString());
  QCOMPARE(replied.status, 0);
  QCOMPARE(replied.out, QStringLiteral("彩屏 OK!!!␍\n"));
}

void TestCli::commissionSendsAndRecordsInOrder_data() {
  QTest::addColumn<QByteArray>("plan");
  QTest::addColumn<QStringList>("options");
  QTest::addColumn<QByteArray>("answers");
  QTest::addColumn<QByteArrayList>("frames");
  QTest::addColumn<bool>("answer");
  QTest::addColumn<QStringList>("recorded");
  // Each prompt as "device command,command".
  QTest::addColumn<QStringList>("prompts");
  QTest::addColumn<int>("status");
  QTest::newRow("UTF-8 with a BOM, comments, columns in any order")
      << QByteArray("\xEF\xBB\xBF# site A\r\nreset_password,address,user_code\r\nyes,1,彩屏A\r\n"
                    "\r\n,,\r\n# next\r\nNo,02,\r\n")
      << QStringList() << QByteArray("\n\n")
      << QByteArrayList{"ID01\r",
                        "*@-\xB2\xCA\xC6\xC1"
                        "A\r",
                        "*2-IniP\r", "ID02\r"}
      << true
      << answered("3", "address") + answered("3", "user-code") + answered("3", "reset-password") +
             answered("7", "address")
      << QStringList{"1 address,user-code,reset-password", "2 address"} << 0;
  QTest::newRow("GBK plan, JSON record, a device skipped")
      << QByteArray("address,user_code,power_on_password\n1,\xB2\xCA\xC6\xC1,yes\n2,x,\n")
      << QStringList{"--json"} << QByteArray("s\n\n") << QByteArrayList{"ID02\r", "*@-x\r"} << true
      << QStringList{"2  skipped"} + answered("3", "address") + answered("3", "user-code")
      << QStringList{"1 address,user-code,power-on-lock", "2 address,user-code"} << 9;
  QTest::newRow("text both UTF-8 and GBK, said to be GBK")
      << QByteArray("address,user_code\n1,\xC2\xB7\n") << QStringList{"--encoding", "gbk"}
      << QByteArray("\n") << QByteArrayList{"ID01\r", "*@-\xC2\xB7\r"} << true
      << answered("2", "address") + answered("2", "user-code") << QStringList{"1 address,user-code"}
      << 0;
  QTest::newRow("silent device") << QByteArray("address,power_on_password\n7,yes\n")
                                 << QStringList{"--wait", "0.2"} << QByteArray("\n")
                                 << QByteArrayList{"ID07\r", "@Power on lock enable\r"} << false
                                 << QStringList{"2 address sent", "2 address no-reply",
                                                "2 power-on-lock sent", "2 power-on-lock no-reply"}
                                 << QStringList{"1 address,power-on-lock"} << 9;
  QTest::newRow("repeats allowed, then the input ends")
      << QByteArray("address\n1\n1\n1\n") << QStringList{"--allow-repeats"} << QByteArray("\n\n")
      << QByteArrayList{"ID01\r", "ID01\r"} << true
      << answered("2", "address") + answered("3", "address")
      << QStringList{"1 address", "2 address", "3 address"} << 10;
  // Nothing is sent, and no device is asked for, when the record cannot be written.
  QTest::newRow("record on a full disk")
      << QByteArray("address,reset_password\n1,yes\n") << QStringList{"--record", "/dev/full"}
      << QByteArray("\n") << QByteArrayList() << true << QStringList() << QStringList() << 8;
  QTest::newRow("JSON record on a full disk")
      << QByteArray("address\n1\n") << QStringList{"--json", "--record", "/dev/full"}
      << QByteArray("\n") << QByteArrayList() << true << QStringList() << QStringList() << 8;
  QTest::newRow("record in a folder that is not there")
      << QByteArray("address\n1\n") << QStringList{"--json", "--record", "/nonexistent/r.jsonl"}
      << QByteArray("\n") << QByteArrayList() << true << QStringList() << QStringList() << 8;
  QTest::newRow("q stops, an unknown answer is asked again")
      << QByteArray("address\n1\n") << QStringList() << QByteArray("x\nq\n") << QByteArrayList()
      << true << QStringList() << QStringList{"1 address", "1 address"} << 10;
}

void TestCli::commissionSendsAndRecordsInOrder() {
  QFETCH(QByteArray, plan);
  QFETCH(QStringList, options);
  QFETCH(QByteArray, answers);
  QFETCH(QByteArrayList, frames);
  QFETCH(bool, answer);
  QFETCH(QStringList, recorded);
  QFETCH(QStringList, prompts);
  QFETCH(int, status);
  const bool json = options.contains("--json");
  QTemporaryDir folder;
  Commissioning cli(folder.path());
  cli.writePlan(plan);
  cli.run(QStringList{"--wait", longWait} + options, answers);
  cli.serve(frames, answer);
  const Run run = cli.finish();
  QCOMPARE(run.status, status);
  QCOMPARE(cli.device.read(), QByteArray());
  QCOMPARE(cli.recorded(json), recorded);
  QCOMPARE(Commissioning::prompts(run, json), prompts);
  if (status == 8)
    QVERIFY2(run.err.contains(options.last()), qPrintable(run.err));
  QCOMPARE(run.out.count(json ? "\"summary\"" : "ID=42 OK!!"),
           json ? (status == 8 ? 0 : 1) : recorded.filter(" answered").size());
}

void TestCli::commissionRefusesBadPlans_data() {
  QTest::addColumn<QByteArray>("plan");
  QTest::addColumn<QStringList>("said");
  QTest::newRow("address above 99")
      << QByteArray("address\n1\n100\n") << QStringList{"Line 3, column address", "0 to 99"};
  QTest::newRow("every bad user code named")
      << QByteArray("\xEF\xBB\xBF"
                    "address,user_code\n1,") +
             QByteArray(33, 'x') + "\n2,😀\n3,a\tb\n"
      << QStringList{"Line 2, column user_code: ", "at most 32",
                     "Line 3, column user_code: ", "GBK",
                     "Line 4, column user_code: ", "a tab"};
  QTest::newRow("repeated address")
      << QByteArray("address\n1\n01\n") << QStringList{"Line 3, column address", "repeats line 2"};
  QTest::newRow("unknown column") << QByteArray("address,usercode\n1,x\n")
                                  << QStringList{"Line 1: ", "unknown column “usercode”"};
  QTest::newRow("no address column")
      << QByteArray("user_code\nx\n") << QStringList{"Line 1: ", "no address column"};
  QTest::newRow("yes or no") << QByteArray("address,reset_password\n1,y\n")
                             << QStringList{"Line 2, column reset_password", "“y”"};
  QTest::newRow("open quote") << QByteArray("address,user_code\n1,\"ab\n")
                              << QStringList{"Line 2, character 3: ", "quote"};
  QTest::newRow("more fields than columns")
      << QByteArray("address\n1,2\n") << QStringList{"Line 2: ", "More fields"};
  QTest::newRow("neither UTF-8 nor GBK")
      << QByteArray("address,user_code\n1,\xFF\xFE\n") << QStringList{"neither UTF-8 nor GBK"};
  QTest::newRow("no device") << QByteArray("# none yet\naddress\n") << QStringList{"no device"};
}

void TestCli::commissionRefusesBadPlans() {
  QFETCH(QByteArray, plan);
  QFETCH(QStringList, said);
  QTemporaryDir folder;
  Commissioning cli(folder.path());
  cli.writePlan(plan);
  cli.run({}, "\n\n\n\n");
  const Run run = cli.finish();
  QCOMPARE(run.status, 3);
  QCOMPARE(cli.device.read(), QByteArray());
  QVERIFY(!QFile::exists(cli.record()));
  for (const QString &words : said)
    QVERIFY2(run.err.contains(words), qPrintable(words + " not in:\n" + run.err));
}

void TestCli::commissionResumesWhereItStopped_data() {
  QTest::addColumn<bool>("json");
  QTest::newRow("CSV record") << false;
  QTest::newRow("JSON lines record") << true;
}

// A device pulled mid-plan: the rest of its frames and the devices after it are left for a
// second run, which sends each of them exactly once.
void TestCli::commissionResumesWhereItStopped() {
  QFETCH(bool, json);
  const QStringList format = json ? QStringList{"--json"} : QStringList();
  QTemporaryDir folder;
  const QByteArray plan("address,power_on_password\n1,yes\n2,yes\n3,yes\n");
  {
    Commissioning cli(folder.path());
    cli.writePlan(plan);
    cli.run(QStringList{"--wait", longWait} + format, "\n\n\n");
    cli.serve({"ID01\r", "@Power on lock enable\r", "ID02\r"});
    QCOMPARE(cli.frame(), QByteArray("@Power on lock enable\r"));
    cli.device.closeDevice();
    const Run run = cli.finish();
    QCOMPARE(run.status, 10);
    QVERIFY2(run.err.contains(json ? "\"number\":57" : "Error 57"), qPrintable(run.err));
    const QStringList cut{"3 power-on-lock sent", "3 power-on-lock line-fault"};
    QCOMPARE(cli.recorded(json), answered("2", "address") + answered("2", "power-on-lock") +
                                     answered("3", "address") + cut);
  }
  // Written over by a run that stopped in the middle of a line.
  const QString recordPath = Commissioning::recordIn(folder.path(), json);
  QFile record(recordPath);
  QVERIFY(record.open(QIODevice::Append));
  record.write(json ? "{\"time\":\"2026-" : "2026-");
  record.close();
  {
    Commissioning cli(folder.path());
    cli.run(QStringList{"--wait", longWait, "--resume"} + format, "\n\n");
    cli.serve({"@Power on lock enable\r", "ID03\r", "@Power on lock enable\r"});
    const Run run = cli.finish();
    QCOMPARE(run.status, 0);
    QCOMPARE(cli.device.read(), QByteArray());
    QCOMPARE(cli.recorded(json).mid(8), answered("3", "power-on-lock") + answered("4", "address") +
                                            answered("4", "power-on-lock"));
    // Only what is still to be sent is asked for.
    QCOMPARE(Commissioning::prompts(run, json),
             QStringList({"2 power-on-lock", "3 address,power-on-lock"}));
  }
  // Without --resume an existing record is not written to, nor is one in the other form, nor
  // another plan's.
  const QStringList otherFormat = json ? QStringList() : QStringList{"--json"};
  for (const auto &[other, options, said] :
       {std::tuple{plan, format, QString("--resume")},
        std::tuple{plan, QStringList{"--resume", "--record", recordPath} + otherFormat,
                   QString(json ? "holds JSON lines" : "is CSV")},
        std::tuple{QByteArray("address,power_on_password\n1,yes\n9,yes\n"),
                   QStringList{"--resume"} + format, QString("does not belong to this plan")}}) {
    Commissioning cli(folder.path());
    cli.writePlan(other);
    cli.run(options, "\n\n\n");
    const Run run = cli.finish();
    QCOMPARE(run.status, 3);
    QCOMPARE(cli.device.read(), QByteArray());
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
  }
}

// A device that has stopped reading: each frame that cannot leave is recorded as not sent,
// nothing of it reaches the device later, and the run goes on with the next device.
void TestCli::commissionGivesUpFramesThatCannotLeave() {
  QTemporaryDir folder;
  Commissioning cli(folder.path());
  cli.device.stopReading();
  cli.writePlan("address,reset_password\n1,yes\n2,\n");
  cli.run({"--wait", "1"}, "\n\n");
  const Run run = cli.finish();
  cli.device.readAgain();
  QCOMPARE(cli.device.read(), QByteArray());
  QCOMPARE(run.status, 9);
  QCOMPARE(cli.recorded(), QStringList({"2 address not-sent", "3 address not-sent"}));
  QVERIFY2(run.err.contains("not sent 3"), qPrintable(run.err));
}

// Ctrl+C while a reply is awaited: the frame has left whole, the record says the command was
// stopped, and the line settings found at opening are back. Ctrl+C while the operator is asked
// ends the run too.
void TestCli::commissionCtrlCEndsBetweenFrames() {
  QTemporaryDir folder;
  Commissioning cli(folder.path());
  termios before{};
  QVERIFY(cli.device.lineSettings(before));
  cli.writePlan("address,reset_password\n5,yes\n");
  cli.run({"--wait", longWait}, "\n");
  QCOMPARE(cli.frame(), QByteArray("ID05\r"));
  ::kill(pid_t(cli.process.processId()), SIGINT);
  const Run run = cli.finish();
  QCOMPARE(run.status, 10);
  QCOMPARE(cli.device.read(), QByteArray());
  QCOMPARE(cli.recorded(), QStringList({"2 address sent", "2 address stopped"}));
  termios after{};
  QVERIFY(cli.device.lineSettings(after));
  QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));

  // While the operator is asked, with standard input still open: the run ends all the same.
  Commissioning asked(folder.path());
  asked.writePlan("address\n6\n");
  asked.start(QStringList{"--record", folder.path() + "/asked.csv", "commission", asked.plan()});
  asked.process.setReadChannel(QProcess::StandardError);
  QByteArray told;
  while (!told.contains("Device 1 of 1") && asked.process.waitForReadyRead(finishMs))
    told += asked.process.readAll();
  QVERIFY2(told.contains("Device 1 of 1"), told.constData());
  ::kill(pid_t(asked.process.processId()), SIGINT);
  QCOMPARE(asked.finish().status, 10);
  QCOMPARE(asked.device.read(), QByteArray());
}

void TestCli::commissionTakesOnePressPerDevice_data() {
  // When each Enter comes, from the first.
  QTest::addColumn<QList<int>>("pressesMs");
  QList<int> held;
  for (int ms = 0; ms <= 1200; ms += 33)
    held.append(ms);
  QTest::newRow("Enter held for 1.2 s, repeating every 33 ms") << held;
  QTest::newRow("Enter pressed twice") << QList<int>{0, 150};
}

// At a terminal a held or doubled Enter confirms one device, however quickly that device's frame
// is answered and the next device asked for. The presses come at a keyboard's pace, the first
// well after the prompt; the gaps that occurred are checked before the verdict.
void TestCli::commissionTakesOnePressPerDevice() {
  QFETCH(QList<int>, pressesMs);
  QTemporaryDir folder;
  Commissioning cli(folder.path());
  PseudoTerminal keyboard(PseudoTerminal::Mode::Keyboard);
  cli.writePlan("address\n1\n2\n");
  cli.process.setChildProcessModifier([path = QFile::encodeName(keyboard.path())] {
    const int terminal = ::open(path.constData(), O_RDONLY | O_NOCTTY);
    if (terminal > STDIN_FILENO) {
      ::dup2(terminal, STDIN_FILENO);
      ::close(terminal);
    }
  });
  QByteArray told;
  QObject::connect(&cli.process, &QProcess::readyReadStandardError,
                   [&] { told += cli.process.readAllStandardError(); });
  cli.start({"--wait", longWait, "commission", cli.plan()});
  QTRY_VERIFY_WITH_TIMEOUT(told.contains("Device 1 of 2"), finishMs);

  QElapsedTimer clock;
  clock.start();
  QList<qint64> pressedAt;
  for (int ms : pressesMs)
    QTimer::singleShot(2 * LineReader::settleMs + ms, Qt::PreciseTimer, &cli.process, [&] {
      keyboard.write("\r");
      pressedAt.append(clock.elapsed());
    });
  // The device answers each frame as it comes.
  QByteArray wire;
  qsizetype replies = 0;
  QTimer device;
  QObject::connect(&device, &QTimer::timeout, [&] {
    wire += cli.device.read(0);
    for (; replies < wire.count('\r'); ++replies)
      cli.device.write(reply);
  });
  device.start(5);
  QTRY_VERIFY_WITH_TIMEOUT(pressedAt.size() == pressesMs.size() && told.contains("Device 2 of 2"),
                           finishMs);
  device.stop();
  keyboard.write("q\r");
  const Run run = cli.finish();
  if (pressedAt.last() - pressedAt.first() >= LineReader::betweenDevicesMs)
    QSKIP("The machine spread the presses over more than a device's gap: not one press.");
  QCOMPARE(wire + cli.device.read(), QByteArray("ID01\r"));
  QCOMPARE(run.status, 10);
  QCOMPARE(cli.recorded(), answered("2", "address"));
}

void TestCli::listSaysWhenThereIsNoPort_data() {
  QTest::addColumn<bool>("json");
  QTest::addColumn<QList<ComDevice>>("devices");
  QTest::addColumn<QString>("out");
  QTest::addColumn<QString>("err");
  QTest::addColumn<int>("status");
  const QList<ComDevice> none{{}, {}};
  const QList<ComDevice> second{{}, {"/dev/ttyUSB0", "USB adapter", true}};
  QTest::newRow("no port") << false << none << ""
                           << "No serial port was found.\n"
                           << 4;
  QTest::newRow("no port, JSON") << true << none << ""
                                 << R"("status":4})"
                                    "\n"
                                 << 4;
  QTest::newRow("a port") << false << second << "COM2\t/dev/ttyUSB0\tUSB adapter\n"
                          << "" << 0;
}

void TestCli::listSaysWhenThereIsNoPort() {
  QFETCH(bool, json);
  QFETCH(QList<ComDevice>, devices);
  QFETCH(QString, out);
  QFETCH(QString, err);
  QFETCH(int, status);
  QString outText;
  QString errText;
  QTextStream outStream(&outText);
  QTextStream errStream(&errText);
  EventWriter events(outStream, errStream, json, false);
  QCOMPARE(listPorts(events, devices), status);
  QCOMPARE(outText, out);
  QVERIFY2(err.isEmpty() ? errText.isEmpty() : errText.endsWith(err), qPrintable(errText));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
