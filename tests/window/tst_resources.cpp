#include "serial/serialport.h"
#include "support/boxes.h"
#include "support/process.h"
#include "support/pty.h"
#include "window/form1.h"
#include "window/quitonsignal.h"

#include <QPushButton>
#include <QtTest>
#include <csignal>
#include <termios.h>
#include <unistd.h>

class TestResources : public QObject {
  Q_OBJECT

private slots:
  void losingAndReopeningLeaksNoDescriptors();
  void quietOpenPortLeavesTheCpuIdle();
  // Last: it ends this process's event loops as it ends the program's.
  void terminationSignalsEndAsClosingTheWindow();

private:
  static void open(Form1 &form, const PseudoTerminal &device) {
    form.MSComm1().setDeviceResolver([path = device.path()](int) { return path; });
    form.findChild<QPushButton *>("Command6")->click();
  }
};

void TestResources::losingAndReopeningLeaksNoDescriptors() {
  Form1 form;
  form.show();
  BoxOperator boxes;
  constexpr int cycles = 100;
  int descriptorsAfterFirst = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == 1)
      descriptorsAfterFirst = openFileDescriptors();
    PseudoTerminal device;
    open(form, device);
    QVERIFY2(form.MSComm1().PortOpen(), qPrintable(QStringLiteral("cycle %1").arg(cycle)));
    device.write("ABCDEFGHIJKL");
    QTRY_COMPARE(boxes.texts.size(), 2 * cycle + 1);
    device.closeDevice();
    QTRY_COMPARE(boxes.texts.size(), 2 * cycle + 2);
    QVERIFY(!form.MSComm1().PortOpen());
  }
  QCOMPARE(openFileDescriptors(), descriptorsAfterFirst);
  QCOMPARE(boxes.texts.at(0), QStringLiteral("BCDEFGHIJKL"));
  QVERIFY(boxes.texts.at(1).contains(QLatin1String("57")));
}

void TestResources::quietOpenPortLeavesTheCpuIdle() {
  Form1 form;
  form.show();
  PseudoTerminal device;
  open(form, device);
  QVERIFY(form.MSComm1().PortOpen());
  const qint64 before = cpuMs();
  QTest::qWait(1000);
  QVERIFY2(cpuMs() - before < 100, qPrintable(QStringLiteral("%1 ms").arg(cpuMs() - before)));
}

namespace {

// Whether the process has its own handler for the signal yet (its SigCgt mask in /proc).
bool catches(qint64 pid, int signal) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly))
    return false;
  for (const QByteArray &line : status.readAll().split('\n'))
    if (line.startsWith("SigCgt:"))
      return line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ull << (signal - 1));
  return false;
}

} // namespace

void TestResources::terminationSignalsEndAsClosingTheWindow() {
  QProcess program;
  program.start(QStringLiteral(QELNOR_SETUP_PROGRAM), {});
  QVERIFY(program.waitForStarted());
  QTRY_VERIFY_WITH_TIMEOUT(catches(program.processId(), SIGTERM), 20000);
  ::kill(pid_t(program.processId()), SIGTERM);
  QVERIFY(program.waitForFinished(20000));
  QCOMPARE(program.exitStatus(), QProcess::NormalExit);
  QCOMPARE(program.exitCode(), 0);

  // Started as "nohup qelnor-setup &" does: a hang-up that was ignored at start stays ignored,
  // and the program goes on when its terminal closes.
  QProcess immune;
  immune.setChildProcessModifier([] { ::signal(SIGHUP, SIG_IGN); });
  immune.start(QStringLiteral(QELNOR_SETUP_PROGRAM), {});
  QVERIFY(immune.waitForStarted());
  QTRY_VERIFY_WITH_TIMEOUT(catches(immune.processId(), SIGTERM), 20000);
  QVERIFY(!catches(immune.processId(), SIGHUP));
  ::kill(pid_t(immune.processId()), SIGHUP);
  QVERIFY2(!immune.waitForFinished(500), "ended by an ignored hang-up");
  ::kill(pid_t(immune.processId()), SIGTERM);
  QVERIFY(immune.waitForFinished(20000));
  QCOMPARE(immune.exitCode(), 0);

  // The same handling here, with a port open: it is closed and the line is left as found. A
  // frame a device that stopped reading never took is told on standard error, not in a box
  // that would hold the exit.
  Form1 form;
  form.show();
  BoxOperator boxes;
  PseudoTerminal device;
  termios before{};
  QVERIFY(device.lineSettings(before));
  open(form, device);
  QVERIFY(form.MSComm1().PortOpen());
  device.fillUntilFull();
  form.findChild<QPushButton *>("Command4")->click();
  QTemporaryFile said;
  QVERIFY(said.open());
  const int standardError = ::dup(STDERR_FILENO);
  ::dup2(said.handle(), STDERR_FILENO);
  quitOnTerminationSignals();
  ::raise(SIGHUP);
  QTRY_VERIFY(!form.isVisible());
  ::dup2(standardError, STDERR_FILENO);
  ::close(standardError);
  QVERIFY(!form.MSComm1().PortOpen());
  QCOMPARE(boxes.texts, QStringList());
  QVERIFY(said.seek(0));
  QVERIFY2(said.readAll().contains("1 frame was not sent"), "not told on standard error");
  termios after{};
  QVERIFY(device.lineSettings(after));
  QCOMPARE(cfgetospeed(&after), cfgetospeed(&before));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
