#include "serial/serialport.h"
#include "support/boxes.h"
#include "support/pty.h"
#include "window/form1.h"
#include "window/portcombobox.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cerrno>
#include <dlfcn.h>
#include <termios.h>
#include <thread>

// Stands in for the C library's tcflush, through which the port empties its buffers: while the
// switch is on, every purge fails as on a device that has just gone, so that a test can make the
// device fail at that moment.
bool failEveryPurge = false;

extern "C" int tcflush(int fd, int queue) {
  if (failEveryPurge) {
    errno = EIO;
    return -1;
  }
  static const auto real = reinterpret_cast<int (*)(int, int)>(dlsym(RTLD_NEXT, "tcflush"));
  return real(fd, queue);
}

// The window with a pseudo-terminal behind COM3 (and, for the stored default, COM1).
struct Bench {
  PseudoTerminal device;
  Form1 form;
  BoxOperator boxes;

  Bench() {
    form.MSComm1().setDeviceResolver(
        [this](int n) { return n == 1 || n == 3 ? device.path() : QString(); });
    form.show();
  }
  template <typename T = QWidget> T *control(const char *name) { return form.findChild<T *>(name); }
  void choose(const QString &port, const QString &rate, const QString &parity) {
    control<QComboBox>("Combo1")->setEditText(port);
    control<QComboBox>("Combo2")->setEditText(rate);
    control<QComboBox>("Combo3")->setEditText(parity);
  }
  void click(const char *name) { control<QPushButton>(name)->click(); }
  void open() {
    choose(QStringLiteral("COM3"), QStringLiteral("9600"), QStringLiteral("None"));
    click("Command6");
    QVERIFY(form.MSComm1().PortOpen());
  }
  bool commandsEnabled() {
    bool all = true;
    for (const char *name : {"Command3", "Command1", "Command4", "Command5"})
      all &= control(name)->isEnabled();
    return all;
  }
};

class TestCommands : public QObject {
  Q_OBJECT

private slots:
  void openingMapsTheChoices_data();
  void openingMapsTheChoices();
  void failedOpenLeavesTheWindowAsItWas();
  void faultRightAfterOpeningLeavesTheWindowClosed();
  void portListNamesTheDevicesWhenOpened();
  void addressFrames_data();
  void addressFrames();
  void userCodeFrames_data();
  void userCodeFrames();
  void fixedFramesEachPress();
  void typedAddressReplacesTheBox();
  void busyLineRefusesWholeFramesAndStaysOpen();
  void closingLetsTheLastFrameLeave();
  void refusedInputsWriteNothing_data();
  void refusedInputsWriteNothing();
};

void TestCommands::openingMapsTheChoices_data() {
  QTest::addColumn<QString>("port");
  QTest::addColumn<QString>("rate");
  QTest::addColumn<QString>("parity");
  QTest::addColumn<int>("comPort");
  QTest::addColumn<QString>("settings");
  QTest::addColumn<QString>("shown");
  const auto row = [](const char *name, const char *port, const char *rate, const char *parity,
                      int comPort, const char *settings, const char *shown) {
    QTest::newRow(name) << port << rate << parity << comPort << settings << shown;
  };
  row("listed", "COM3", "9600", "Odd", 3, "9600,O,8,1", "COM3 9600 Odd");
  row("design texts", "COM1", "2400", "None", 1, "2400,n,8,1", "COM1 2400 None");
  row("lower-case port", "com3", "1200", "Even", 1, "1200,E,8,1", "COM1 1200 Even");
  row("padded port", "COM3 ", "4800", "None", 1, "4800,n,8,1", "COM1 4800 None");
  row("beyond the list", "COM16", "4800", "Odd", 1, "4800,O,8,1", "COM1 4800 Odd");
  row("unlisted rate", "COM3", "19200", "None", 3, "9600,n,8,1", "COM3 9600 None");
  row("lower-case parity", "COM3", "2400", "none", 3, "9600,n,8,1", "COM3 9600 None");
}

void TestCommands::openingMapsTheChoices() {
  QFETCH(QString, port);
  QFETCH(QString, rate);
  QFETCH(QString, parity);
  Bench bench;
  bench.choose(port, rate, parity);
  bench.click("Command6");
  QVERIFY(bench.boxes.texts.isEmpty());
  QTEST(bench.form.MSComm1().CommPort(), "comPort");
  QTEST(bench.form.MSComm1().Settings(), "settings");
  QVERIFY(bench.form.MSComm1().PortOpen());
  QVERIFY(!bench.control("Command6")->isEnabled());
  QVERIFY(bench.commandsEnabled());
  // The lists show what is in force, and cannot be changed while nothing would apply it.
  QStringList shown;
  for (const char *name : {"Combo1", "Combo2", "Combo3"}) {
    shown.append(bench.control<QComboBox>(name)->currentText());
    QVERIFY2(!bench.control(name)->isEnabled(), name);
  }
  QTEST(shown.join(QLatin1Char(' ')), "shown");
}

void TestCommands::failedOpenLeavesTheWindowAsItWas() {
  Bench bench;
  bench.choose(QStringLiteral("COM2"), QStringLiteral("9600"), QStringLiteral("None"));
  bench.click("Command6");
  QCOMPARE(bench.boxes.texts.size(), 1);
  QVERIFY(bench.boxes.texts.at(0).contains(QLatin1String("8002")));
  QVERIFY(bench.boxes.texts.at(0).contains(QLatin1String("COM2")));
  QVERIFY(!bench.form.MSComm1().PortOpen());
  QVERIFY(bench.control("Command6")->isEnabled());
  QVERIFY(!bench.control("Command3")->isEnabled() && !bench.commandsEnabled());

  bench.open();
  QVERIFY(bench.commandsEnabled());
}

// The device fails in the moment after the port opened (unplugged just then): the fault is
// reported and the window offers to open again instead of sends on a closed port.
void TestCommands::faultRightAfterOpeningLeavesTheWindowClosed() {
  Bench bench;
  failEveryPurge = true;
  bench.click("Command6");
  failEveryPurge = false;
  QTRY_COMPARE(bench.boxes.texts.size(), 1);
  QVERIFY2(bench.boxes.texts.at(0).contains(QLatin1String("57")),
           qPrintable(bench.boxes.texts.at(0)));
  QVERIFY(!bench.form.MSComm1().PortOpen());
  QVERIFY(bench.control("Command6")->isEnabled());
  QVERIFY(!bench.control("Command3")->isEnabled() && !bench.control("Command4")->isEnabled());
  bench.open();
  QVERIFY(bench.commandsEnabled());
}

void TestCommands::portListNamesTheDevicesWhenOpened() {
  Bench bench;
  auto *ports = bench.control<QComboBox>("Combo1");
  ports->showPopup();
  QCOMPARE(ports->itemData(2, Qt::ToolTipRole).toString(), bench.device.path());
  QVERIFY(ports->itemData(1, Qt::ToolTipRole).toString().contains(QLatin1String("no device")));
  ports->hidePopup();
  QVERIFY(deviceTips({{}, {}}).at(1).contains(QLatin1String("No serial device found")));
}

void TestCommands::addressFrames_data() {
  QTest::addColumn<QString>("address");
  QTest::addColumn<QByteArray>("frame");
  QTest::newRow("initial 0") << "0" << QByteArray("ID00\r");
  QTest::newRow("7") << "7" << QByteArray("ID07\r");
  QTest::newRow("42") << "42" << QByteArray("ID42\r");
  QTest::newRow("99") << "99" << QByteArray("ID99\r");
  QTest::newRow("leading blank") << " 5" << QByteArray("ID05\r");
  QTest::newRow("half rounds to even") << ".5" << QByteArray("ID00\r");
}

void TestCommands::addressFrames() {
  QFETCH(QString, address);
  QFETCH(QByteArray, frame);
  Bench bench;
  bench.open();
  bench.control<QLineEdit>("Text1")->setText(address);
  bench.click("Command3");
  QCOMPARE(bench.device.read(), frame);
}

void TestCommands::userCodeFrames_data() {
  QTest::addColumn<QString>("code");
  QTest::addColumn<QByteArray>("frame");
  QTest::newRow("digits") << "1234" << QByteArray("*@-1234\r");
  QTest::newRow("empty") << "" << QByteArray("*@-\r");
  QTest::newRow("blanks kept") << " 12 " << QByteArray("*@- 12 \r");
  QTest::newRow("chinese in GBK") << QStringLiteral("中文") << QByteArray("*@-\xD6\xD0\xCE\xC4\r");
}

void TestCommands::userCodeFrames() {
  QFETCH(QString, code);
  QFETCH(QByteArray, frame);
  Bench bench;
  bench.open();
  bench.control<QLineEdit>("Text2")->setText(code);
  bench.click("Command1");
  QCOMPARE(bench.device.read(), frame);
}

void TestCommands::fixedFramesEachPress() {
  Bench bench;
  bench.open();
  bench.click("Command4");
  bench.click("Command4");
  QCOMPARE(bench.device.read(), QByteArray("@Power on lock enable\r@Power on lock enable\r"));
  bench.click("Command5");
  QCOMPARE(bench.device.read(), QByteArray("*2-IniP\r"));
  bench.click("Command3");
  bench.click("Command3");
  QCOMPARE(bench.device.read(), QByteArray("ID00\rID00\r"));
  QVERIFY(bench.boxes.texts.isEmpty());
}

// Whichever way the operator comes into the address box, the two digits typed are the address
// sent: right after start, after Tab, and after a click behind the text already there.
void TestCommands::typedAddressReplacesTheBox() {
  Bench bench;
  bench.open();
  bench.form.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&bench.form));
  auto *address = bench.control<QLineEdit>("Text1");
  const auto typeAndSend = [&](const char *digits) -> QByteArray {
    if (!QTest::qWaitFor([&] { return address->hasFocus() && address->hasSelectedText(); }))
      return "entered without its text selected";
    QTest::keyClicks(address, QLatin1String(digits));
    bench.click("Command3");
    return bench.device.read();
  };
  QCOMPARE(typeAndSend("12"), QByteArray("ID12\r"));

  bench.control("Command4")->setFocus();
  QTest::keyClick(bench.control("Command4"), Qt::Key_Tab);
  QCOMPARE(typeAndSend("25"), QByteArray("ID25\r"));

  bench.control("Text2")->setFocus();
  // Through the window, as a real click comes, so that the click moves the focus.
  QTest::mouseClick(bench.form.windowHandle(), Qt::LeftButton, {},
                    address->geometry().center() + QPoint(address->width() / 4, 0));
  QCOMPARE(typeAndSend("37"), QByteArray("ID37\r"));
}

// A device that stops reading: the program's clicks fill the line. Once more than a UART's
// worth waits, a click is refused with a box and writes nothing, so every frame that was
// accepted arrives whole when the device reads again, and the port stays open.
void TestCommands::busyLineRefusesWholeFramesAndStaysOpen() {
  Bench bench;
  bench.open();
  const QByteArray frame("@Power on lock enable\r");
  int accepted = 0;
  while (bench.boxes.texts.isEmpty() && accepted < 20000) {
    bench.click("Command4");
    accepted += bench.boxes.texts.isEmpty();
  }
  QCOMPARE(bench.boxes.texts.size(), 1);
  QVERIFY2(bench.boxes.texts.at(0).startsWith(QStringLiteral("错误 1010")),
           qPrintable(bench.boxes.texts.at(0)));
  QVERIFY(bench.form.MSComm1().PortOpen() && bench.commandsEnabled());

  QByteArray wire;
  QTRY_VERIFY((wire += bench.device.read(), wire.size() >= accepted * frame.size()));
  QCOMPARE(wire, frame.repeated(accepted));
  bench.click("Command5");
  QCOMPARE(bench.device.read(), QByteArray("*2-IniP\r"));
  QCOMPARE(bench.boxes.texts.size(), 1);
}

// The window closed right after a click, while the frame still waits for the line (here a device
// that reads nothing for a moment, at 1200 baud): it leaves whole before the port closes and its
// settings are put back.
void TestCommands::closingLetsTheLastFrameLeave() {
  Bench bench;
  bench.choose(QStringLiteral("COM3"), QStringLiteral("1200"), QStringLiteral("None"));
  bench.click("Command6");
  QVERIFY(bench.form.MSComm1().PortOpen());
  int accepted = 0;
  while (bench.form.MSComm1().OutBufferCount() == 0 && accepted < 20000) {
    bench.click("Command4");
    ++accepted;
  }
  QVERIFY(bench.form.MSComm1().OutBufferCount() > 0);
  bench.click("Command5");
  QByteArray wire;
  std::thread device([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    wire = bench.device.read(300);
  });
  bench.form.close();
  device.join();
  QVERIFY(!bench.form.MSComm1().PortOpen());
  QCOMPARE(wire, QByteArray("@Power on lock enable\r").repeated(accepted) + "*2-IniP\r");
  QVERIFY(bench.boxes.texts.isEmpty());
}

void TestCommands::refusedInputsWriteNothing_data() {
  QTest::addColumn<QByteArray>("box");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("shown");
  QTest::newRow("empty address") << QByteArray("Text1") << ""
                                 << "13";
  QTest::newRow("letters") << QByteArray("Text1") << "ab"
                           << "13";
  QTest::newRow("negative") << QByteArray("Text1") << "-1"
                            << "6";
  QTest::newRow("pasted command") << QByteArray("Text2")
                                  << QStringLiteral("12\r@Power on lock enable") << "U+000D";
  QTest::newRow("line feed") << QByteArray("Text2") << "\n"
                             << "U+000A";
  QTest::newRow("not in GBK") << QByteArray("Text2") << QStringLiteral("ab😀") << "😀";
}

void TestCommands::refusedInputsWriteNothing() {
  QFETCH(QByteArray, box);
  QFETCH(QString, text);
  QFETCH(QString, shown);
  Bench bench;
  bench.open();
  bench.control<QLineEdit>(box.constData())->setText(text);
  bench.click(box == "Text1" ? "Command3" : "Command1");
  QCOMPARE(bench.device.read(), QByteArray());
  QCOMPARE(bench.boxes.texts.size(), 1);
  QVERIFY2(bench.boxes.texts.at(0).contains(shown), qPrintable(bench.boxes.texts.at(0)));
  QVERIFY(bench.form.MSComm1().PortOpen() && bench.commandsEnabled());
  bench.click("Command5");
  QCOMPARE(bench.device.read(), QByteArray("*2-IniP\r"));
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
