// The two programs' command lines side by side: what the window program answers without a
// display, and the command-line program's line defaults against the window's starting lists.
#include "cli/arguments.h"
#include "window/form1.h"

#include <QComboBox>
#include <QProcess>
#include <QtTest>

namespace {

constexpr int finishMs = 20000;

struct Run {
  int status = -1;
  QByteArray out;
  QByteArray err;
};

// The window program with no display to open a window on: no X server, no Wayland, no
// platform chosen.
Run runSetup(const QStringList &arguments, bool display) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    environment.remove(QLatin1String(name));
  if (display)
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
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

} // namespace

class TestCommandLines : public QObject {
  Q_OBJECT

private slots:
  void setupHelpAndVersionNeedNoDisplay_data();
  void setupHelpAndVersionNeedNoDisplay();
  void setupRefusesOtherArguments_data();
  void setupRefusesOtherArguments();
  void cliLineDefaultsAreTheWindowsStartingLists();
};

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

// A script written after using the window opens the same line: the command line's defaults are
// what the window's three lists show when it starts, the texts it opens the port from when
// they are left untouched.
void TestCommandLines::cliLineDefaultsAreTheWindowsStartingLists() {
  Form1 window;
  const Request defaults;
  QCOMPARE(window.findChild<QComboBox *>("Combo1")->currentText(), defaults.port);
  QCOMPARE(window.findChild<QComboBox *>("Combo2")->currentText(), defaults.rate);
  QCOMPARE(window.findChild<QComboBox *>("Combo3")->currentText(), defaults.parity);
  QCOMPARE(defaults.portIsDevice, false);
}

QTEST_MAIN(TestCommandLines)
#include "tst_commandlines.moc"
