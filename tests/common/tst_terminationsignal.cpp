// Ctrl+C in a Windows console. The first one asks the program to end through its event loop;
// when that loop is stuck, a second one ends the program at once. The program is this test run
// again as a child with a console of its own, where it presses Ctrl+C itself.
#include "common/terminationsignal.h"

#include <QProcess>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <windows.h>

namespace {

const char *const childArgument = "--stuck-program";
HANDLE firstEventThread = nullptr;

// Registered after the program's handler, so the system calls it first: it keeps the thread
// that carries the first event, and passes every event on.
BOOL WINAPI noteEventThread(DWORD) {
  if (!firstEventThread)
    firstEventThread = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
  return FALSE;
}

void say(const char *line) { QTextStream(stdout) << line << '\n' << Qt::flush; }

// The child: a program whose event loop runs until the first Ctrl+C reaches it through the
// bridge, and then stops running, as in a wait that does not return.
int stuckProgram() {
  QEventLoop loop;
  onTerminationSignal(&loop, [&loop](int signal) {
    if (signal == SIGINT)
      say("asked to end");
    loop.quit();
  });
  SetConsoleCtrlHandler(noteEventThread, TRUE);
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  loop.exec();
  // Once the first event's handlers have all returned, the program is known to have outlived it.
  if (!firstEventThread || WaitForSingleObject(firstEventThread, 20000) != WAIT_OBJECT_0)
    return 4;
  say("still running");
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  const HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  WaitForSingleObject(never, 30000);
  say("not ended by the second Ctrl+C");
  return 3;
}

} // namespace

class TestTerminationSignal : public QObject {
  Q_OBJECT

private slots:
  void secondCtrlCEndsAStuckProgram();
};

void TestTerminationSignal::secondCtrlCEndsAStuckProgram() {
  QProcess child;
  child.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
    arguments->flags = (arguments->flags & ~DWORD(CREATE_NO_WINDOW)) | CREATE_NEW_CONSOLE;
  });
  child.start(QCoreApplication::applicationFilePath(), {QLatin1String(childArgument)});
  QVERIFY(child.waitForFinished(60000));
  QCOMPARE(child.readAllStandardOutput().replace('\r', ""),
           QByteArray("asked to end\nstill running\n"));
  QCOMPARE(DWORD(child.exitCode()), DWORD(STATUS_CONTROL_C_EXIT));
}

int main(int argc, char *argv[]) {
  QCoreApplication application(argc, argv);
  if (argc == 2 && qstrcmp(argv[1], childArgument) == 0)
    return stuckProgram();
  TestTerminationSignal test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_terminationsignal.moc"
