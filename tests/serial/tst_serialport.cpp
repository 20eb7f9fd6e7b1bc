#include "serial/openport.h"
#include "serial/serialport.h"
#include "support/failures.h"
#include "support/pty.h"

#include <QtTest>
#include <termios.h>

class TestSerialPort : public QObject {
  Q_OBJECT

private slots:
  void storedDefaultsAndSettingsChecks();
  void opensRawAtTheChosenRateAndDiscardsEarlyBytes();
  void raisesOneReceiveEventPerReplyBlock();
  void openFailuresNameWhatWasTried();
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
}

QTEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
