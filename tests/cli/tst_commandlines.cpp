// The two programs' command lines side by side: what the window program answers without a
// display, and why it says there is none, and the command-line program's line defaults against
// the window's starting lists. A virtual X server (Xvfb) stands for a desktop that turns the
// window program away and for one whose display Qt cannot use.
#include "cli/arguments.h"
#include "window/form1.h"

#include <QComboBox>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int finishMs = 20000;

using Variables = QMap<QString, QString>;

struct Run {
  int status = -1; // -1 when it crashed
  QByteArray out;
  QByteArray err;
};

// The window program with no display to open a window on: no X server, no Wayland, no
// platform chosen, unless the variables given set them.
Run runSetup(const QStringList &arguments, bool display, const Variables &variables = {}) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY"})
    environment.remove(QLatin1String(name));
  if (display)
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  for (auto variable = variables.begin(); variable != variables.end(); ++variable)
    environment.insert(variable.key(), variable.value());
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(QELNOR_SETUP), arguments);
  if (!process.waitForFinished(finishMs))
    process.kill();
  process.waitForFinished();
  Run run;
  if (process.exitStatus() == QProcess::NormalExit)
    run.status = process.exitCode();
  run.out = process.readAllStandardOutput();
  run.err = process.readAllStandardError();
  return run;
}

// An X authority file with one cookie for any display (family FamilyWild, no number).
bool writeAuthority(const QString &path, const QByteArray &cookie) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  QDataStream out(&file); // big-endian, as the file's lengths are
  const QByteArray name("MIT-MAGIC-COOKIE-1");
  out << quint16(0xffff) << quint16(0) << quint16(0) << quint16(name.size());
  out.writeRawData(name.constData(), int(name.size()));
  out << quint16(cookie.size());
  out.writeRawData(cookie.constData(), int(cookie.size()));
  return file.flush();
}

} // namespace

class TestCommandLines : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void cleanupTestCase();
  void setupHelpAndVersionNeedNoDisplay_data();
  void setupHelpAndVersionNeedNoDisplay();
  void setupRefusesOtherArguments_data();
  void setupRefusesOtherArguments();
  void setupSaysWhyThereIsNoDisplay_data();
  void setupSaysWhyThereIsNoDisplay();
  void setupRefusesARecordItCannotKeep_data();
  void setupRefusesARecordItCannotKeep();
  void cliLineDefaultsAreTheWindowsStartingLists();

private:
  QTemporaryDir dir_;
  QProcess server_;
  QString display_; // the virtual X server's, once it runs
};

// One X server for the rows that need one, which lets in only holders of its cookie.
void TestCommandLines::initTestCase() {
  QVERIFY(dir_.isValid());
  QByteArray cookie(16, '\0');
  QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(cookie.data()), 4);
  QVERIFY(writeAuthority(dir_.filePath("cookie"), cookie));
  QFile none(dir_.filePath("none"));
  QVERIFY(none.open(QIODevice::WriteOnly));
  // A library of the X platform plugin that cannot load.
  QVERIFY(QDir(dir_.path()).mkdir("broken"));
  QFile broken(dir_.filePath("broken/libxcb-icccm.so.4"));
  QVERIFY(broken.open(QIODevice::WriteOnly));
  if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
    return;
  server_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp", "-auth",
                                         dir_.filePath("cookie"), "-screen", "0", "320x240x24"});
  QVERIFY(server_.waitForStarted());
  QTRY_VERIFY_WITH_TIMEOUT(server_.canReadLine() || server_.state() == QProcess::NotRunning,
                           finishMs);
  const QByteArray number = server_.readLine().trimmed();
  QVERIFY2(!number.isEmpty(), server_.readAllStandardError().constData());
  display_ = QLatin1Char(':') + QString::fromLatin1(number);
}

void TestCommandLines::cleanupTestCase() {
  server_.terminate();
  server_.waitForFinished();
}

void TestCommandLines::setupHelpAndVersionNeedNoDisplay_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<QStringList>("said");
  const QStringList help{"Usage: qelnor-setup", "选项", "--version", "qelnor-cli --help"};
  QTest::newRow("--help") << QStringList{"--help"} << help;
  QTest::newRow("-h") << QStringList{"-h"} << help;
  QTest::newRow("--version") << QStringList{"--version"} << QStringList{"qelnor-setup 2.0\n"};
  QTest::newRow("after a Qt option")
      << QStringList{"-platform", "xcb", "--version"} << QStringList{"qelnor-setup 2.0\n"};
  // Qt's -stylesheet holds an "h" but asks for no help.
  QTest::newRow("Qt option with an h")
      << QStringList{"-stylesheet", "none.qss", "--version"} << QStringList{"qelnor-setup 2.0\n"};
}

void TestCommandLines::setupHelpAndVersionNeedNoDisplay() {
  QFETCH(QStringList, arguments);
  QFETCH(QStringList, said);
  const Run run = runSetup(arguments, false);
  QCOMPARE(run.err, QByteArray());
  QCOMPARE(run.status, 0);
  const QString out = QString::fromUtf8(run.out);
  for (const QString &words : said)
    QVERIFY2(out.contains(words), qPrintable(words + " not in:\n" + out));
  if (said.size() == 1)
    QCOMPARE(out, said.first());
}

void TestCommandLines::setupRefusesOtherArguments_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<bool>("display");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("error");
  const QString seeHelp = QStringLiteral("\n用法见 See: qelnor-setup --help\n");
  for (const bool display : {true, false}) {
    const auto row = [&](const char *name, const QStringList &arguments, const QString &error) {
      QTest::addRow("%s, %s", name, display ? "offscreen" : "no display")
          << arguments << display << 2 << error + seeHelp;
    };
    row("unknown option", {"--bogus"}, QStringLiteral("未知选项 Unknown option: --bogus"));
    row("unknown option with a value", {"--bogus=1"},
        QStringLiteral("未知选项 Unknown option: --bogus"));
    row("unknown single-dash option", {"-bogus"},
        QStringLiteral("未知选项 Unknown option: -bogus"));
    row("a word", {"COM3"}, QStringLiteral("多余的参数 Unexpected argument: COM3"));
    const QString comTakes = QStringLiteral("--com 的值应为 COMn=设备，n 为 1–15，每个 COMn 一次。"
                                            "--com takes COMn=DEVICE, n from 1 to 15, each COMn "
                                            "once: “%1”");
    row("--com without a device", {"--com", "COM1"}, comTakes.arg("COM1"));
    row("--com past the list", {"--com=COM16=/dev/pts/3"}, comTakes.arg("COM16=/dev/pts/3"));
    row("--com twice for a name", {"--com", "COM2=/dev/a", "--com", "COM2=/dev/b"},
        comTakes.arg("COM2=/dev/b"));
    row("--record twice", {"--record", "a.csv", "--record", "b.csv"},
        QStringLiteral("--record 需要一个文件名，只能给一次。--record takes one file name, once."));
  }
}

// These need the application object, which takes out Qt's own options first; the window is
// not shown.
void TestCommandLines::setupRefusesOtherArguments() {
  QFETCH(QStringList, arguments);
  QFETCH(bool, display);
  QFETCH(int, status);
  QFETCH(QString, error);
  const Run run = runSetup(arguments, display);
  QCOMPARE(run.status, status);
  QCOMPARE(run.out, QByteArray());
  const QString err = QString::fromUtf8(run.err);
  QVERIFY2(display ? err.contains(error) : err == error, qPrintable(err));
}

void TestCommandLines::setupSaysWhyThereIsNoDisplay_data() {
  QTest::addColumn<bool>("needsServer");
  QTest::addColumn<Variables>("variables");
  // What the program says, in order; "<d>" stands for the server's display.
  QTest::addColumn<QStringList>("said");
  QTest::addColumn<bool>("aborts");
  QTest::newRow("DISPLAY unset")
      << false << Variables{}
      << QStringList{"No display to show the window on: DISPLAY is not set.", "\nQt: qt.qpa."}
      << false;
  QTest::newRow("nothing at :87") << false << Variables{{"DISPLAY", ":87"}}
                                  << QStringList{"显示器 :87 无应答。",
                                                 "nothing answers at DISPLAY=:87.", "\nQt: qt.qpa.",
                                                 ":87"}
                                  << false;
  QTest::newRow("refused without the cookie")
      << true << Variables{{"DISPLAY", "<d>"}, {"XAUTHORITY", dir_.filePath("none")}}
      << QStringList{"The display DISPLAY=<d> refused the connection: “", "XAUTHORITY",
                     "\nQt: qt.qpa."}
      << false;
  QTest::newRow("let in, but the platform plugin cannot load")
      << true
      << Variables{{"DISPLAY", "<d>"},
                   {"XAUTHORITY", dir_.filePath("cookie")},
                   {"LD_LIBRARY_PATH", dir_.filePath("broken")}}
      << QStringList{"Qt could not use the display DISPLAY=<d>; QT_DEBUG_PLUGINS=1 shows why."}
      << false;
  // Qt ends the program on its first warning: that warning is said before the end.
  QTest::newRow("warnings made fatal")
      << false << Variables{{"DISPLAY", ":87"}, {"QT_FATAL_WARNINGS", "1"}}
      << QStringList{"qt.qpa.xcb", ":87"} << true;
}

void TestCommandLines::setupSaysWhyThereIsNoDisplay() {
  QFETCH(bool, needsServer);
  QFETCH(Variables, variables);
  QFETCH(QStringList, said);
  QFETCH(bool, aborts);
  if (needsServer && display_.isEmpty())
    QSKIP("No Xvfb (Debian package xvfb) to play the X server");
  for (QString &value : variables)
    value.replace(QLatin1String("<d>"), display_);
  const Run run = runSetup({}, false, variables);
  const QString err = QString::fromUtf8(run.err);
  QCOMPARE(run.status, aborts ? -1 : 1);
  // Said in one paragraph at the end, after anything the X library wrote itself.
  if (!aborts)
    QVERIFY2(err.endsWith(QLatin1Char('\n')) && err.count(QLatin1Char('\n')) <= 4, qPrintable(err));
  qsizetype from = 0;
  for (QString words : said) {
    words.replace(QLatin1String("<d>"), display_);
    const qsizetype at = err.indexOf(words, from);
    QVERIFY2(at >= 0, qPrintable(QStringLiteral("“%1” not in:\n%2").arg(words, err)));
    from = at + words.size();
  }
}

void TestCommandLines::setupRefusesARecordItCannotKeep_data() {
  QTest::addColumn<QString>("record");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("said");
  QTest::newRow("a full disk") << "/dev/full" << 8
                               << "记录写入失败 The record /dev/full could not be written: No "
                                  "space left on device\n";
  QTest::newRow("no such folder")
      << dir_.filePath("missing/record.csv") << 8
      << QStringLiteral("无法写入记录 Cannot write the record %1: No such file or directory\n")
             .arg(dir_.filePath("missing/record.csv"));
  QTest::newRow("a plan named by mistake")
      << dir_.filePath("plan.csv") << 3
      << QStringLiteral("%1 不是 CSV 记录，未写入。%1 holds something other than a CSV record; "
                        "nothing was written to it.\n")
             .arg(dir_.filePath("plan.csv"));
}

// A record that cannot be kept is told before the window opens, with the command line's status
// for it, and nothing is written to a file that is not a record.
void TestCommandLines::setupRefusesARecordItCannotKeep() {
  QFETCH(QString, record);
  const QByteArray plan("address,user_code\r\n42,1234\r\n");
  QFile planFile(dir_.filePath("plan.csv"));
  QVERIFY(planFile.open(QIODevice::WriteOnly) && planFile.write(plan) == plan.size());
  planFile.close();
  const Run run = runSetup({"--record", record}, true);
  QTEST(run.status, "status");
  QCOMPARE(run.out, QByteArray());
  // Its last line, after anything Qt may have said on the way.
  QTEST(QString::fromUtf8(run.err).section(QLatin1Char('\n'), -2), "said");
  QVERIFY(planFile.open(QIODevice::ReadOnly));
  QCOMPARE(planFile.readAll(), plan);
}

// A script written after using the window opens the same line: the command line's defaults are
// what the window's three lists show when it starts, the texts it opens the port from when
// they are left untouched.
void TestCommandLines::cliLineDefaultsAreTheWindowsStartingLists() {
  Form1 window;
  const Request defaults;
  QCOMPARE(window.findChild<QComboBox *>("Combo1")->currentText(), defaults.port);
  QCOMPARE(window.findChild<QComboBox *>("Combo2")->currentText(), defaults.rate);
  QCOMPARE(window.findChild<QComboBox *>("Combo3")->currentText(), defaults.parity);
}

QTEST_MAIN(TestCommandLines)
#include "tst_commandlines.moc"
