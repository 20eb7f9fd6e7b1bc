#include "serial/hangupwatch.h"
#include "serial/openport.h"
#include "serial/serialport.h"
#include "support/failures.h"
#include "support/linecalls.h"
#include "support/pty.h"

#include <QtTest>
#include <fcntl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// What the program did to the watched device so far, a call a line.
QStringList lineCalls() {
  char *log = lineCallsLog();
  const QStringList calls = QString::fromLatin1(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  free(log);
  return calls;
}

const QByteArray reply("\x02ID=42 OK!!\r", 12);

} // namespace

class TestSerialPort : public QObject {
  Q_OBJECT

private slots:
  void storedDefaultsAndSettingsChecks();
  void opensRawAtTheChosenRateAndDiscardsEarlyBytes();
  void raisesOneReceiveEventPerReplyBlock();
  void openFailuresNameWhatWasTried();
  void hangUpWatchReportsOnceAndGivesItsDescriptorBack();
  void framesReachAStalledDeviceWholeOrAreCounted();
  void closingWaitsForTheTransmitter_data();
  void closingWaitsForTheTransmitter();
  void closeWhenLeftCountsWhatLeavesAndCanDiscardIt_data();
  void closeWhenLeftCountsWhatLeavesAndCanDiscardIt();
  void aReplyBeforeAHangUpIsToldFirst_data();
  void aReplyBeforeAHangUpIsToldFirst();
  void bytesBeforeTheFrameLeftAnswerAnEarlierOne_data();
  void bytesBeforeTheFrameLeftAnswerAnEarlierOne();
};

void TestSerialPort::storedDefaultsAndSettingsChecks() {
  SerialPort port;
  QCOMPARE(port.CommPort(), 1);
  QCOMPARE(port.Settings(), QStringLiteral("9600,n,8,1"));
  QCOMPARE(failureNumber([&] { port.setSettings(QStringLiteral("9600,x,8,1")); }), 380);
  QCOMPARE(port.Settings(), QStringLiteral("9600,n,8,1"));
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
  // Bytes the device sends now come alone: those from before the open were thrown away. (Kept
  // however long the test takes to look.)
  port.setStrayGapMs(60000);
  device.write("fresh");
  QTRY_COMPARE(port.InBufferCount(), 5);
  QCOMPARE(port.Input(), QByteArray("fresh"));
}

void TestSerialPort::raisesOneReceiveEventPerReplyBlock() {
  PseudoTerminal device;
  SerialPort port;
  port.setDeviceResolver([&](int) { return device.path(); });
  OpenPort(port, QStringLiteral("COM1"), QStringLiteral("9600"), QStringLiteral("None"));
  QList<QByteArray> reads;
  connect(&port, &SerialPort::OnComm, this, [&] { reads.append(port.Input()); });
  port.setStrayGapMs(60000);
  device.write("0123456");
  QTRY_COMPARE(port.InBufferCount(), 7);
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
  // Another program that takes the terminal for itself without a lock file: refused as well, even
  // when this one runs as root, and the line is left as that program has it.
  termios before{};
  QVERIFY(device.lineSettings(before));
  QVERIFY(device.holdExclusively(true));
  openFails(1, 8005);
  termios after{};
  QVERIFY(device.lineSettings(after));
  QCOMPARE(QByteArray(reinterpret_cast<const char *>(&after), sizeof after),
           QByteArray(reinterpret_cast<const char *>(&before), sizeof before));
  QVERIFY(device.holdExclusively(false));
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

// A device that stops reading: frames wait until the line takes them, those it does not take are
// given up and counted, and the device, reading again, finds only whole frames, then what follows
// them. Each frame that left is told, in order, and none that was given up.
void TestSerialPort::framesReachAStalledDeviceWholeOrAreCounted() {
  PseudoTerminal device;
  SerialPort port;
  port.setDeviceResolver([&](int) { return device.path(); });
  OpenPort(port, QStringLiteral("COM1"), QStringLiteral("9600"), QStringLiteral("None"));
  QByteArrayList left;
  connect(&port, &SerialPort::FrameLeft, this,
          [&](const QByteArray &frame) { left.append(frame); });
  const QByteArray frame("@Power on lock enable\r");
  port.Output(frame);
  port.Output("ID01\r");
  QVERIFY(port.waitUntilSent());
  QCOMPARE(left, (QByteArrayList{frame, "ID01\r"}));

  const qint64 filled = device.fillUntilFull();
  qint64 accepted = 0;
  while (failureNumber([&] { port.Output(frame); }) == 0)
    ++accepted;
  QVERIFY(accepted > 0);
  QVERIFY(port.OutBufferCount() > SerialPort::outputBound);
  QVERIFY(!port.waitUntilSent());
  QCOMPARE(port.discardUnsent(), accepted);
  QCOMPARE(port.OutBufferCount(), 0);
  port.Output("*2-IniP\r");
  device.readAgain();
  QByteArray wire;
  QTRY_VERIFY((wire += device.read(), wire.endsWith("*2-IniP\r")));
  QCOMPARE(wire, frame + "ID01\r" + QByteArray(filled, 'x') + "*2-IniP\r");
  QTRY_COMPARE(left.size(), 3);
  QCOMPARE(left.last(), QByteArray("*2-IniP\r"));

  // Gone while frames wait: told by the time the wait is over, not left for a later turn of the
  // event loop that a system raising the error only once would never bring.
  device.fillUntilFull();
  port.Output(frame);
  device.closeDevice();
  QSignalSpy failed(&port, &SerialPort::Failed);
  QVERIFY(!port.waitUntilSent());
  QCOMPARE(failed.count(), 1);
  QVERIFY(!port.PortOpen());
  QCOMPARE(left.size(), 3);
}

void TestSerialPort::closingWaitsForTheTransmitter_data() {
  QTest::addColumn<QString>("close");
  QTest::newRow("when sent") << "closeWhenSent";
  QTest::newRow("at once") << "setPortOpen";
  QTest::newRow("when left, not blocking") << "closeWhenLeft";
}

// A UART still shifting out the frame's last bits holds tcdrain: the port closes, and puts back
// the settings it found, only after that.
void TestSerialPort::closingWaitsForTheTransmitter() {
  QFETCH(QString, close);
  PseudoTerminal device;
  SerialPort port;
  port.setDeviceResolver([&](int) { return device.path(); });
  lineCallsWatch(QFile::encodeName(device.path()).constData());
  OpenPort(port, QStringLiteral("COM1"), QStringLiteral("1200"), QStringLiteral("None"));
  lineCallsHoldDrains(1);
  const auto release = qScopeGuard([] { lineCallsHoldDrains(0); });
  const QByteArray frame("@Power on lock enable\r");
  port.Output(frame);
  if (close == QLatin1String("closeWhenLeft")) {
    QSignalSpy closed(&port, &SerialPort::Closed);
    port.closeWhenLeft();
    QTRY_VERIFY(lineCalls().contains(QStringLiteral("drain")));
    // Many turns of the event loop while the transmitter holds the frame: nothing changes.
    int turns = 0;
    QTimer turn;
    connect(&turn, &QTimer::timeout, this, [&] { ++turns; });
    turn.start(1);
    QTRY_VERIFY(turns >= 5);
    QVERIFY(port.PortOpen());
    QCOMPARE(closed.count(), 0);
    lineCallsHoldDrains(0);
    QTRY_COMPARE(closed.count(), 1);
    QCOMPARE(closed.at(0).at(0).toLongLong(), 0);
  } else {
    std::jthread transmitter([] {
      lineCallsAwait("drain", 10000);
      lineCallsHoldDrains(0);
    });
    if (close == QLatin1String("closeWhenSent"))
      QCOMPARE(port.closeWhenSent(), 0);
    else
      port.setPortOpen(false);
    transmitter.join();
  }
  QVERIFY(!port.PortOpen());
  QCOMPARE(device.readFrame(), frame);
  const QStringList calls = lineCalls();
  const qsizetype written = calls.indexOf(QStringLiteral("write 22"));
  const qsizetype drained = calls.indexOf(QStringLiteral("drained"));
  const qsizetype restored = calls.indexOf(QStringLiteral("tcsetattr"), written);
  QVERIFY2(written >= 0 && written < drained && drained < restored &&
               restored < calls.lastIndexOf(QStringLiteral("close")),
           qPrintable(calls.join(QLatin1Char(' '))));
}

void TestSerialPort::closeWhenLeftCountsWhatLeavesAndCanDiscardIt_data() {
  QTest::addColumn<QString>("stall");
  QTest::addColumn<bool>("discard");
  QTest::newRow("discarded") << "device" << true;
  QTest::newRow("the device took nothing") << "device" << false;
  QTest::newRow("the transmitter never emptied") << "transmitter" << false;
}

// Frames that do not leave, because the device has stopped reading or the UART never empties: the
// close counts them as they wait, and gives them up when told to or once nothing has moved for a
// while; none reaches the device later.
void TestSerialPort::closeWhenLeftCountsWhatLeavesAndCanDiscardIt() {
  QFETCH(QString, stall);
  QFETCH(bool, discard);
  PseudoTerminal device;
  SerialPort port;
  port.setDeviceResolver([&](int) { return device.path(); });
  const bool transmitter = stall == QLatin1String("transmitter");
  lineCallsWatch(transmitter ? QFile::encodeName(device.path()).constData() : "");
  lineCallsHoldDrains(transmitter);
  const auto release = qScopeGuard([] { lineCallsHoldDrains(0); });
  OpenPort(port, QStringLiteral("COM1"), QStringLiteral("9600"), QStringLiteral("None"));
  const qint64 filled = transmitter ? 0 : device.fillUntilFull();
  for (int i = 0; i < 3; ++i)
    port.Output("*2-IniP\r");
  QSignalSpy leaving(&port, &SerialPort::Leaving);
  QSignalSpy closed(&port, &SerialPort::Closed);
  port.closeWhenLeft();
  QVERIFY(port.closingWhenLeft());
  QCOMPARE(leaving.count(), 1);
  QCOMPARE(leaving.at(0).at(0).toLongLong(), 3);
  QCOMPARE(failureNumber([&] { port.Output("ID01\r"); }), 8018);
  if (discard)
    QCOMPARE(port.discardUnsent(), 3);
  QTRY_COMPARE(closed.count(), 1);
  QCOMPARE(closed.at(0).at(0).toLongLong(), 3);
  QVERIFY(!port.PortOpen());
  // The frame the UART held is counted with the others: it was never seen to leave.
  QCOMPARE(device.read(), transmitter ? QByteArray("*2-IniP\r") : QByteArray(filled, 'x'));
}

void TestSerialPort::aReplyBeforeAHangUpIsToldFirst_data() {
  QTest::addColumn<bool>("whileTheFrameLeaves");
  QTest::newRow("the frame gone") << false;
  QTest::newRow("the frame still leaving") << true;
}

// A device that answers and hangs up: the system throws away what the program has not read
// when the line hangs up, so the answer must be taken in as it comes, even while the port waits
// for the transmitter, and told before the loss.
void TestSerialPort::aReplyBeforeAHangUpIsToldFirst() {
  QFETCH(bool, whileTheFrameLeaves);
  PseudoTerminal device;
  SerialPort port;
  port.setDeviceResolver([&](int) { return device.path(); });
  lineCallsWatch(QFile::encodeName(device.path()).constData());
  OpenPort(port, QStringLiteral("COM1"), QStringLiteral("9600"), QStringLiteral("None"));
  QStringList told;
  connect(&port, &SerialPort::OnComm, this,
          [&] { told.append(QString::fromLatin1(port.Input())); });
  connect(&port, &SerialPort::Failed, this, [&] { told.append(QStringLiteral("lost")); });
  lineCallsHoldDrains(whileTheFrameLeaves);
  const auto release = qScopeGuard([] { lineCallsHoldDrains(0); });
  port.Output("ID42\r");
  if (!whileTheFrameLeaves)
    QVERIFY(port.waitUntilSent());
  bool taken = false;
  std::jthread answering([&] {
    if (device.readFrame() != "ID42\r" || !device.writeAll(reply))
      return;
    taken = lineCallsAwaitRead(reply.size(), 10000);
    device.closeDevice();
  });
  if (whileTheFrameLeaves)
    QVERIFY(!port.waitUntilSent());
  else
    QTRY_COMPARE(told.size(), 2);
  answering.join();
  QVERIFY(taken);
  QCOMPARE(told, (QStringList{QString::fromLatin1(reply), QStringLiteral("lost")}));
  QVERIFY(!port.PortOpen());
}

void TestSerialPort::bytesBeforeTheFrameLeftAnswerAnEarlierOne_data() {
  QTest::addColumn<int>("before");
  QTest::newRow("a whole block") << 12;
  QTest::newRow("the head of a block") << 5;
}

// The frame waits for a stalled device while bytes come in: they cannot answer it, and neither
// can the rest of the block they begin. What comes after the frame has left is its reply.
void TestSerialPort::bytesBeforeTheFrameLeftAnswerAnEarlierOne() {
  QFETCH(int, before);
  PseudoTerminal device;
  SerialPort port;
  port.setDeviceResolver([&](int) { return device.path(); });
  OpenPort(port, QStringLiteral("COM1"), QStringLiteral("9600"), QStringLiteral("None"));
  port.setStrayGapMs(60000);
  QByteArrayList replies;
  QByteArrayList earlier;
  QByteArrayList left;
  connect(&port, &SerialPort::OnComm, this, [&] { replies.append(port.Input()); });
  connect(&port, &SerialPort::EarlierReply, this,
          [&](const QByteArray &block) { earlier.append(block); });
  connect(&port, &SerialPort::FrameLeft, this,
          [&](const QByteArray &frame) { left.append(frame); });
  const QByteArray earlierReply("\x02ID=41 OK!!\r", 12);
  device.fillUntilFull();
  port.Output("ID42\r");
  device.write(earlierReply.first(before));
  QTRY_COMPARE(port.InBufferCount() + earlier.size() * 12, before);
  device.readAgain();
  QByteArray wire;
  QTRY_VERIFY((wire += device.read(), wire.endsWith("ID42\r")));
  QTRY_COMPARE(left, QByteArrayList{"ID42\r"});
  device.write(earlierReply.sliced(before) + reply);
  QTRY_COMPARE(replies.size(), 1);
  QCOMPARE(earlier, QByteArrayList{earlierReply});
  QCOMPARE(replies, QByteArrayList{reply});
}

QTEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
