#include "serial/hangupwatch.h"
#include "serial/openport.h"
#include "serial/serialport.h"
#include "support/failures.h"
#include "support/pty.h"

#include <QtTest>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

class TestSerialPort : public QObject {
  Q_OBJECT

private slots:
  void storedDefaultsAndSettingsChecks();
  void opensRawAtTheChosenRateAndDiscardsEarlyBytes();
  void raisesOneReceiveEventPerReplyBlock();
  void openFailuresNameWhatWasTried();
  void hangUpWatchReportsOnceAndGivesItsDescriptorBack();
  void framesReachAStalledDeviceWholeOrAreCounted();
};

void TestSerialPort::storedDefaultsAndSettingsChecks() {
  SerialPort port;
  QCOMPARE(port.CommPort(), 1);
  QCOMPARE(port.Settings(), QStringLiteral("9600,n,8,1"));
  QCOMPARE(failureNumber([&] { port.setSettings(QStringLiteral("9600,x,8,1")); }), 380);
  QCOMPARE(port.Settings(), QStringLiteral("9600,n,8,1"));
  port.setSettings(QStringLiteral("1200,E,7,2"));
  QCOMPARE(port.Settings(), QStringLiteral("1200,E,7,2"));
  QCOMPARE(failureNumber([&] { port.Output("ID00\r"); }), 8018);
}

void TestSerialPort::opensRawAtTheChosenRateAndDiscardsEarlyBytes() {
  PseudoTerminal device;
  SerialPort port;
  port.setDeviceResolver([&](int n) { return n == 3 ? device.path() : QString(); });
  device.write("stale bytes before the open");

  OpenPort(port, QStringLiteral("COM3"), QStringLiteral("4800"), QStringLiteral("Odd"));
  QVERIFY(port.PortOpen());
  QCOMPARE(port.CommPort(), 3);
  QCOMPARE(port.Settings(), QStringLiteral("4800,O,8,1"));
  QCOMPARE(port.findChild<QSerialPort *>()->parity(), QSerialPort::OddParity);
  QCOMPARE(port.RThreshold(), 12);

  termios line{};
  QVERIFY(device.lineSettings(line));
  QCOMPARE(cfgetispeed(&line), speed_t(B4800));
  QCOMPARE(line.c_lflag & (ICANON | ECHO), tcflag_t(0));
  QCOMPARE(line.c_cflag & CSIZE, tcflag_t(CS8));
  QCOMPARE(port.InBufferCount(), 0);
  QTest::qWait(50);
  QCOMPARE(port.InBufferCount(), 0);
}

void TestSerialPort::raisesOneReceiveEventPerReplyBlock() {
  PseudoTerminal device;
  SerialPort port;
  port.setDeviceResolver([&](int) { return device.path(); });
  OpenPort(port, QStringLiteral("COM1"), QStringLiteral("9600"), QStringLiteral("None"));
  QList<QByteArray> reads;
  connect(&port, &SerialPort::OnComm, this, [&] { reads.append(port.Input()); });

  device.write("0123456");
  QTest::qWait(30);
  QVERIFY(reads.isEmpty());
  device.write("789ab"
               "ABCDEFGHIJKL"
               "xyz");
  QTRY_COMPARE(reads.size(), 2);
  QCOMPARE(reads, (QList<QByteArray>{"0123456789ab", "ABCDEFGHIJKL"}));
  QCOMPARE(port.InBufferCount(), 3);
}

void TestSerialPort::openFailuresNameWhatWasTried() {
  PseudoTerminal device;
  SerialPort port;
  QString behindCom2 = QStringLiteral("/dev/no-such-device");
  port.setDeviceResolver([&](int n) {
    return n == 1 ? device.path() : n == 2 ? behindCom2 : n == 4 ? "/dev/null" : QString();
  });

  const auto openFails = [&](int com, int expected) {
    port.setCommPort(com);
    try {
      port.setPortOpen(true);
    } catch (const Failure &failure) {
      QCOMPARE(failure.number(), expected);
      QVERIFY2(failure.description().contains(QStringLiteral("COM%1").arg(com)),
               qPrintable(failure.description()));
      QVERIFY(!port.PortOpen());
      return;
    }
    QFAIL("the port opened");
  };
  openFails(3, 8002);
  openFails(2, 8002);
  openFails(4, 8015);

  QSerialPort holder(device.path());
  QVERIFY(holder.open(QIODevice::ReadWrite));
  openFails(1, 8005);
  holder.close();
  port.setPortOpen(true);
  QVERIFY(port.PortOpen());
}

// The watch on its own: the Qt in use may report a hang-up by itself as well, which would hide
// a watch that never fires, fires again and again, or keeps its descriptor.
void TestSerialPort::hangUpWatchReportsOnceAndGivesItsDescriptorBack() {
  const auto openDescriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
  // A notifier on a hung-up descriptor would fire on every turn of the event loop.
  const auto turnTheEventLoop = [] {
    for (int i = 0; i < 20; ++i) {
      QCoreApplication::processEvents();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
  };
  PseudoTerminal device;
  PseudoTerminal stoppedDevice;
  const auto openLine = [](const PseudoTerminal &pty) {
    return ::open(QFile::encodeName(pty.path()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  };
  const int line = openLine(device);
  const int stoppedLine = openLine(stoppedDevice);
  QVERIFY(line >= 0 && stoppedLine >= 0);
  const auto before = openDescriptors();

  HangUpWatch watch;
  HangUpWatch stoppedWatch;
  QSignalSpy reports(&watch, &HangUpWatch::hungUp);
  QSignalSpy stoppedReports(&stoppedWatch, &HangUpWatch::hungUp);
  watch.start(line);
  watch.start(line);
  stoppedWatch.start(stoppedLine);
  QCOMPARE(openDescriptors(), before + 2);

  device.write("bytes");
  turnTheEventLoop();
  char bytes[8];
  QCOMPARE(::read(line, bytes, sizeof bytes), ssize_t(5));
  QCOMPARE(reports.count(), 0);

  stoppedWatch.stop();
  QCOMPARE(openDescriptors(), before + 1);
  stoppedDevice.closeDevice();
  device.closeDevice();
  QTRY_COMPARE(reports.count(), 1);
  turnTheEventLoop();
  QCOMPARE(reports.count(), 1);
  QCOMPARE(stoppedReports.count(), 0);
  // Both devices' own sides are closed now; the watch has given its descriptor back.
  QCOMPARE(openDescriptors(), before - 2);
  ::close(line);
  ::close(stoppedLine);
}

// A device that stops reading: frames are taken until the line is busy, the rest are given up
// and counted, and the device, reading again, finds only whole frames, then what follows them.
void TestSerialPort::framesReachAStalledDeviceWholeOrAreCounted() {
  PseudoTerminal device;
  SerialPort port;
  port.setDeviceResolver([&](int) { return device.path(); });
  OpenPort(port, QStringLiteral("COM1"), QStringLiteral("9600"), QStringLiteral("None"));
  const QByteArray frame("@Power on lock enable\r");
  qint64 accepted = 0;
  while (failureNumber([&] { port.Output(frame); }) == 0)
    ++accepted;
  QVERIFY(port.OutBufferCount() > SerialPort::outputBound);
  QVERIFY(!port.waitUntilSent());
  const qint64 unsent = port.discardUnsent();
  QVERIFY(unsent > 0);
  QCOMPARE(port.OutBufferCount(), 0);
  port.Output("*2-IniP\r");
  QByteArray wire;
  QTRY_VERIFY((wire += device.read(), wire.endsWith("*2-IniP\r")));
  QCOMPARE(wire, frame.repeated(accepted - unsent) + "*2-IniP\r");

  // Gone while frames wait: told by the time the wait is over, not left for a later turn of the
  // event loop that a system raising the error only once would never bring.
  while (failureNumber([&] { port.Output(frame); }) == 0) {
  }
  device.closeDevice();
  QSignalSpy failed(&port, &SerialPort::Failed);
  QVERIFY(!port.waitUntilSent());
  QCOMPARE(failed.count(), 1);
  QVERIFY(!port.PortOpen());
}

QTEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
