#include "common/record.h"
#include "device/frames.h"
#include "device/replytext.h"
#include "serial/serialport.h"
#include "support/boxes.h"
#include "support/pty.h"
#include "window/form1.h"
#include "window/portcombobox.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>
#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

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

// Stands in for Qt's: notes each change told to assistive technologies, which a screen reader
// would hear (Qt tells them nothing without a desktop's accessibility bus).
QList<std::pair<const QObject *, QAccessible::Event>> accessibilityEvents;

void QAccessible::updateAccessibility(QAccessibleEvent *event) {
  accessibilityEvents.append({event->object(), event->type()});
}

// Stands in for the C library's write: while a record is watched, each frame written to a
// terminal notes how many lines of frames sent the record held at that moment.
QString watchedRecord;
QList<qsizetype> sentLinesAtWrite;

extern "C" ssize_t write(int fd, const void *buffer, size_t size) {
  static const auto real =
      reinterpret_cast<ssize_t (*)(int, const void *, size_t)>(dlsym(RTLD_NEXT, "write"));
  if (!watchedRecord.isEmpty() && size > 0 && static_cast<const char *>(buffer)[size - 1] == '\r' &&
      isatty(fd)) {
    QFile record(watchedRecord);
    if (record.open(QIODevice::ReadOnly))
      sentLinesAtWrite.append(record.readAll().count(",sent,"));
  }
  return real(fd, buffer, size);
}

// A record's lines as outcome|command|address|frame|reply|reply text|detail, the run's first
// line left out.
QStringList recordLines(const QString &path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {QStringLiteral("unreadable")};
  QStringList lines;
  for (const QString &text : QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"))) {
    const std::optional<QStringList> values = recordLineValues(text, false);
    if (!values || values->at(RecordColumn::outcome) == QLatin1String("started"))
      continue;
    lines.append(QStringList{values->at(RecordColumn::outcome), values->at(RecordColumn::command),
                             values->at(RecordColumn::address), values->at(RecordColumn::frameHex),
                             values->at(RecordColumn::replyHex),
                             values->at(RecordColumn::replyText), values->at(RecordColumn::detail)}
                     .join(QLatin1Char('|')));
  }
  return lines;
}

// The note a box showed where the operator types, if one is up; it is put away, so that the
// next call sees only a new one.
QString takeNote() {
  if (!QToolTip::isVisible())
    return {};
  const QString text = QToolTip::text();
  QToolTip::hideText();
  (void)QTest::qWaitFor([] { return !QToolTip::isVisible(); });
  return text;
}

// What is wrong with where the note at a control is: outside the window, or over the control
// or any other control or caption of the window. Empty when nothing is.
QString notePlacementFaults(QWidget *at) {
  QWidget *tip = nullptr;
  for (QWidget *w : QApplication::topLevelWidgets())
    if (w->inherits("QTipLabel") && w->isVisible())
      tip = w;
  if (!tip)
    return QStringLiteral("no note");
  // Where the note was put, at the size it is drawn: the offscreen platform gives a tooltip a
  // window's frame, which a real one does not have.
  const QRect note(tip->pos(), tip->size());
  QStringList faults;
  if (!QRect(at->window()->mapToGlobal(QPoint(0, 0)), at->window()->size()).contains(note))
    faults.append(QStringLiteral("outside the window"));
  for (QWidget *w : at->window()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
    if (w->isVisible() && note.intersects(QRect(w->mapToGlobal(QPoint(0, 0)), w->size())))
      faults.append(QStringLiteral("over ") + w->objectName());
  return faults.join(QStringLiteral(", "));
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
  void open(const QString &rate = QStringLiteral("9600")) {
    choose(QStringLiteral("COM3"), rate, QStringLiteral("None"));
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

// The bench keeping a record in a folder of its own, as --record keeps it.
struct RecordingBench : Bench {
  QTemporaryDir dir;
  QString record = dir.filePath(QStringLiteral("record.csv"));

  RecordingBench() {
    auto file = std::make_unique<RecordFile>(record, false);
    if (file->open().isEmpty())
      form.keepRecord(std::move(file));
  }
};

// Presses the button of the box that counts the frames leaving as soon as it is shown, when told
// to.
struct PressWhenShown : QObject {
  explicit PressWhenShown(bool press) : press_(press) { qApp->installEventFilter(this); }
  bool pressed = false;

  bool eventFilter(QObject *watched, QEvent *event) override {
    auto *box = qobject_cast<QProgressDialog *>(watched);
    if (press_ && box && event->type() == QEvent::Show)
      QTimer::singleShot(0, box, [this, box] {
        pressed = true;
        box->findChild<QPushButton *>()->click();
      });
    return false;
  }

private:
  bool press_;
};

class TestCommands : public QObject {
  Q_OBJECT

private slots:
  void openingMapsTheChoices_data();
  void openingMapsTheChoices();
  void failedOpenLeavesTheWindowClosed_data();
  void failedOpenLeavesTheWindowClosed();
  void portListNamesTheDevicesWhenOpened();
  void eachPressSendsItsFrame_data();
  void eachPressSendsItsFrame();
  void everyWayIntoTheAddressBoxTypesTheAddress();
  void userCodeBoxRefusesWholeWithANote();
  void enterRightBehindARefusalSendsNothing_data();
  void enterRightBehindARefusalSendsNothing();
  void pressesOfTheOpeningKeyReachNoBox_data();
  void pressesOfTheOpeningKeyReachNoBox();
  void busyLineRefusesWholeFramesAndStaysOpen();
  void closingWaitsForTheFramesLeaving_data();
  void closingWaitsForTheFramesLeaving();
  void lostDeviceCountsTheFramesWaiting();
  void refusedInputsWriteNothing_data();
  void refusedInputsWriteNothing();
  void eachFrameIsToldAndRecordedWithWhatCameOfIt();
  void recordLineIsOnTheDiskBeforeTheNextFrameIsHanded();
  void recordThatFailsStopsTheSending();
};

void TestCommands::openingMapsTheChoices_data() {
  QTest::addColumn<QString>("port");
  QTest::addColumn<QString>("rate");
  QTest::addColumn<QString>("parity");
  QTest::addColumn<int>("comPort");
  QTest::addColumn<QString>("settings");
  QTest::addColumn<QString>("shown");
  QTest::addColumn<QString>("told");
  const auto row = [](const char *name, const char *port, const char *rate, const char *parity,
                      int comPort, const char *settings, const char *shown, const QString &told) {
    QTest::newRow(name) << port << rate << parity << comPort << settings << shown << told;
  };
  row("listed", "COM3", "9600", "Odd", 3, "9600,O,8,1", "COM3 9600 Odd", {});
  row("design texts", "COM1", "2400", "None", 1, "2400,n,8,1", "COM1 2400 None", {});
  // A text that differs from an entry only in case or blanks around it names that entry.
  row("lower-case port", "com3", "1200", "Even", 3, "1200,E,8,1", "COM3 1200 Even", {});
  row("padded port", " COM3 ", "4800", "None", 3, "4800,n,8,1", "COM3 4800 None", {});
  row("padded rate, lower-case parity", "COM3", "9600 ", "odd", 3, "9600,O,8,1", "COM3 9600 Odd",
      {});
  row("beyond the list", "COM16", "4800", "Odd", 1, "4800,O,8,1", "COM1 4800 Odd",
      QStringLiteral("“COM16” 不是列表中的串口名称，已打开 COM1。\n"
                     "“COM16” is not one of the list's port names; COM1 was opened."));
  row("unlisted rate", "COM3", "19200", "None", 3, "9600,n,8,1", "COM3 9600 None",
      QStringLiteral("“19200” 不是列表中的波特率，波特率和校验位沿用 9600、None。\n"
                     "“19200” is not one of the list's rates; the rate and parity in force, "
                     "9600 and None, were kept."));
  row("unlisted parity", "COM3", "2400", "no", 3, "9600,n,8,1", "COM3 9600 None",
      QStringLiteral("“no” 不是列表中的校验位，波特率和校验位沿用 9600、None。\n"
                     "“no” is not one of the list's parities; the rate and parity in force, "
                     "9600 and None, were kept."));
  row("nothing listed", "COM 3", "19200", "no", 1, "9600,n,8,1", "COM1 9600 None",
      QStringLiteral("“COM 3” 不是列表中的串口名称，已打开 COM1。“19200” 不是列表中的波特率，"
                     "“no” 不是列表中的校验位，波特率和校验位沿用 9600、None。\n"
                     "“COM 3” is not one of the list's port names; COM1 was opened. “19200” is "
                     "not one of the list's rates and “no” is not one of the list's "
                     "parities; the rate and parity in force, 9600 and None, were kept."));
}

void TestCommands::openingMapsTheChoices() {
  QFETCH(QString, port);
  QFETCH(QString, rate);
  QFETCH(QString, parity);
  Bench bench;
  QFETCH(QString, told);
  bench.choose(port, rate, parity);
  bench.click("Command6");
  // A text that named no entry is told at once, with what was opened in its place.
  QCOMPARE(bench.boxes.texts, told.isEmpty() ? QStringList() : QStringList{told});
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

void TestCommands::failedOpenLeavesTheWindowClosed_data() {
  QTest::addColumn<QString>("port");
  QTest::addColumn<bool>("deviceFails");
  // What the box says: how it begins, then what else it holds.
  QTest::addColumn<QStringList>("told");
  QTest::newRow("nothing behind COM2") << "COM2" << false << QStringList{"错误 8002", "COM2"};
  // A text that named no entry: the box of the failure says what was tried.
  QTest::newRow("beyond the list, COM2 tried")
      << "COM16" << false
      << QStringList{"错误 8002", "\n\n“COM16” 不是列表中的串口名称，已尝试打开 COM2。\n"
                                  "“COM16” is not one of the list's port names; COM2 was tried."};
  // The device fails in the moment after the port opened (unplugged just then); the system's
  // reason comes in Chinese and English, as the other reasons do.
  QTest::newRow("device fails right after opening")
      << "COM3" << true
      << QStringList{"错误 57", "串口设备出错 The port's device failed: Input/output error."};
}

// The fault is reported and the window offers to open again instead of sends on a closed port.
void TestCommands::failedOpenLeavesTheWindowClosed() {
  QFETCH(QString, port);
  QFETCH(bool, deviceFails);
  QFETCH(QStringList, told);
  Bench bench;
  bench.form.MSComm1().setCommPort(2);
  bench.choose(port, QStringLiteral("9600"), QStringLiteral("None"));
  failEveryPurge = deviceFails;
  bench.click("Command6");
  failEveryPurge = false;
  QTRY_COMPARE(bench.boxes.texts.size(), 1);
  const QString box = bench.boxes.texts.at(0);
  QVERIFY2(box.startsWith(told.first()), qPrintable(box));
  for (const QString &part : told)
    QVERIFY2(box.contains(part), qPrintable(box));
  QVERIFY(!bench.form.MSComm1().PortOpen());
  QVERIFY(bench.control("Command6")->isEnabled());
  for (const char *name : {"Command3", "Command1", "Command4", "Command5"})
    QVERIFY2(!bench.control(name)->isEnabled(), name);
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

  // A device the system does not list, given for COM5 on the command line: named in its
  // tooltip and opened through it.
  PseudoTerminal unlisted;
  bench.form.setComDevices({{5, unlisted.path()}});
  ports->showPopup();
  QCOMPARE(ports->itemData(4, Qt::ToolTipRole).toString(), unlisted.path() + " — --com");
  QCOMPARE(ports->itemData(2, Qt::ToolTipRole).toString(), bench.device.path());
  ports->hidePopup();
  bench.choose(QStringLiteral("COM5"), QStringLiteral("9600"), QStringLiteral("None"));
  bench.click("Command6");
  QVERIFY(bench.form.MSComm1().PortOpen());
  bench.click("Command5");
  QCOMPARE(unlisted.read(), QByteArray("*2-IniP\r"));
  QVERIFY(bench.boxes.texts.isEmpty());
}

void TestCommands::eachPressSendsItsFrame_data() {
  QTest::addColumn<QByteArray>("box");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QByteArray>("button");
  QTest::addColumn<int>("presses");
  QTest::addColumn<QByteArray>("frames");
  const auto address = [](const char *name, const QString &text, const QByteArray &frame) {
    QTest::newRow(name) << QByteArray("Text1") << text << QByteArray("Command3") << 1 << frame;
  };
  const auto code = [](const char *name, const QString &text, const QByteArray &frame) {
    QTest::newRow(name) << QByteArray("Text2") << text << QByteArray("Command1") << 1 << frame;
  };
  // How each text becomes its frame is the device's tests' matter: these see the box's text sent
  // as typed, blanks and all.
  address("address 42", "42", "ID42\r");
  code("empty code", "", "*@-\r");
  code("code keeps its blanks", " 12 ", "*@- 12 \r");
  code("chinese code in GBK", QStringLiteral("中文"), "*@-\xD6\xD0\xCE\xC4\r");
  // Each press is a frame of its own, also of the same button.
  QTest::newRow("address twice") << QByteArray("Text1") << "0" << QByteArray("Command3") << 2
                                 << QByteArray("ID00\rID00\r");
  QTest::newRow("power-on lock twice")
      << QByteArray() << QString() << QByteArray("Command4") << 2
      << QByteArray("@Power on lock enable\r@Power on lock enable\r");
  QTest::newRow("reset password") << QByteArray() << QString() << QByteArray("Command5") << 1
                                  << QByteArray("*2-IniP\r");
}

void TestCommands::eachPressSendsItsFrame() {
  QFETCH(QByteArray, box);
  QFETCH(QString, text);
  QFETCH(QByteArray, button);
  QFETCH(int, presses);
  Bench bench;
  bench.open();
  if (!box.isEmpty())
    bench.control<QLineEdit>(box.constData())->setText(text);
  for (int i = 0; i < presses; ++i)
    bench.click(button.constData());
  QTEST(bench.device.read(), "frames");
  QVERIFY(bench.boxes.texts.isEmpty());
}

// Whichever way the operator comes into the address box, the two digits typed are the address
// sent: right after start and right after opening (the box has the focus, and the operator
// clicks into it all the same), after Tab, and after a click behind the text already there. A
// keystroke or paste the box does not take is refused with a note at the box, never cut, and
// Enter presses the update button beside it.
void TestCommands::everyWayIntoTheAddressBoxTypesTheAddress() {
  Bench bench;
  bench.form.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&bench.form));
  auto *address = bench.control<QLineEdit>("Text1");
  // Through the window, as a real click comes, so that a click moves the focus.
  const auto clickIntoTheBox = [&] {
    QTest::mouseClick(bench.form.windowHandle(), Qt::LeftButton, {},
                      address->geometry().center() + QPoint(address->width() / 4, 0));
  };
  const auto typeAndSend = [&](const char *digits) -> QByteArray {
    if (!address->hasFocus())
      return "the box does not have the focus";
    QTest::keyClicks(address, QLatin1String(digits));
    bench.click("Command3");
    return bench.device.read();
  };

  // At start, before the port is open: a click into the focused box, two digits, Enter.
  QVERIFY(address->hasFocus());
  clickIntoTheBox();
  QTest::keyClicks(address, QStringLiteral("42"));
  QCOMPARE(address->text(), QStringLiteral("42"));
  QTest::keyClick(address, Qt::Key_Return);
  QCOMPARE(notePlacementFaults(address), QString());
  QVERIFY(takeNote().contains(QLatin1String("Open the port first")));

  // Opened from the keyboard: the open button greys and hands the focus on to the box.
  bench.choose(QStringLiteral("COM3"), QStringLiteral("9600"), QStringLiteral("None"));
  bench.control("Command6")->setFocus();
  QTest::keyClick(bench.control("Command6"), Qt::Key_Space);
  QVERIFY(bench.form.MSComm1().PortOpen());
  QVERIFY(address->hasFocus());
  clickIntoTheBox();
  QTest::keyClicks(address, QStringLiteral("25"));
  QTest::keyClick(address, Qt::Key_Return);
  QCOMPARE(bench.device.read(), QByteArray("ID25\r"));
  clickIntoTheBox();
  QTest::keyClick(address, Qt::Key_Enter);
  QCOMPARE(bench.device.read(), QByteArray("ID25\r"));
  // A held Enter sends once, as a held button does: its auto-repeats are not presses.
  for (const bool repeat : {false, true, true, true}) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), repeat);
    QApplication::sendEvent(address, &press);
  }
  QCOMPARE(bench.device.read(), QByteArray("ID25\r"));

  bench.control("Command5")->setFocus();
  QTest::keyClick(bench.control("Command5"), Qt::Key_Tab);
  QCOMPARE(typeAndSend("37"), QByteArray("ID37\r"));

  bench.control("Text2")->setFocus();
  clickIntoTheBox();
  QCOMPARE(typeAndSend("61"), QByteArray("ID61\r"));
  QCOMPARE(takeNote(), QString());

  // A paste of three digits is refused whole, with a note: "100" never becomes 10.
  address->selectAll();
  QGuiApplication::clipboard()->setText(QStringLiteral("100"));
  QTest::keyClick(address, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(address->text(), QStringLiteral("61"));
  QVERIFY2(takeNote().contains(QLatin1String("The address is 0 to 99")), "no note");
  QGuiApplication::clipboard()->setText(QStringLiteral("7"));
  QTest::keyClick(address, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(address->text(), QStringLiteral("7"));
  QCOMPARE(takeNote(), QString());
  // A spreadsheet cell's line break, which the box could not show, is not kept.
  address->selectAll();
  QGuiApplication::clipboard()->setText(QStringLiteral("3\r\n"));
  QTest::keyClick(address, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(address->text(), QStringLiteral("3"));
  bench.click("Command3");
  QCOMPARE(bench.device.read(), QByteArray("ID03\r"));
  QVERIFY(bench.boxes.texts.isEmpty());
}

// The user code box refuses a paste or a keystroke past 32 characters whole, with a note, and
// never keeps half a character; the button sends the code.
void TestCommands::userCodeBoxRefusesWholeWithANote() {
  Bench bench;
  bench.open();
  bench.form.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&bench.form));
  auto *code = bench.control<QLineEdit>("Text2");
  code->setFocus();
  const auto paste = [&](const QString &text) {
    QGuiApplication::clipboard()->setText(text);
    QTest::keyClick(code, Qt::Key_V, Qt::ControlModifier);
  };

  paste(QString(40, QLatin1Char('x')));
  QCOMPARE(code->text(), QString());
  QCOMPARE(notePlacementFaults(code), QString());
  QVERIFY2(takeNote().contains(QLatin1String("holds 32 at most")), "no note");

  paste(QString(31, QLatin1Char('a')));
  paste(QStringLiteral("😀"));
  QCOMPARE(code->text(), QString(31, QLatin1Char('a')));
  QVERIFY2(takeNote().contains(QLatin1String("holds 32 at most")), "no note");

  QTest::keyClicks(code, QStringLiteral("bc"));
  QCOMPARE(code->text(), QString(31, QLatin1Char('a')) + QLatin1Char('b'));
  QVERIFY2(takeNote().contains(QLatin1String("holds 32 at most")), "no note");

  bench.click("Command1");
  QCOMPARE(bench.device.read(), "*@-" + QByteArray(31, 'a') + "b\r");
  QVERIFY(bench.boxes.texts.isEmpty());
}

void TestCommands::enterRightBehindARefusalSendsNothing_data() {
  QTest::addColumn<QByteArray>("box");
  QTest::addColumn<QString>("held");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("pasted");
  QTest::addColumn<QByteArray>("firstEnter");
  QTest::addColumn<bool>("thenClick");
  QTest::addColumn<QByteArray>("then");
  const auto row = [](const char *name, const char *box, const char *held, const char *typed,
                      const QString &pasted, const char *firstEnter, bool thenClick,
                      const char *then) {
    QTest::newRow(name) << QByteArray(box) << held << typed << pasted << QByteArray(firstEnter)
                        << thenClick << QByteArray(then);
  };
  const QString tooLong(33, QLatin1Char('x'));
  row("100 typed fast", "Text1", "0", "100", {}, "", false, "ID10\r");
  row("4.5 typed fast", "Text1", "0", "4.5", {}, "", false, "ID04\r");
  row("code pasted past 32, then a click", "Text2", "OLD", "", tooLong, "", true, "*@-OLD\r");
  row("emptied box, code pasted past 32", "Text2", "", "", tooLong, "", false, "*@-\r");
  row("an edit after the refusal", "Text1", "0", "100\b5", {}, "ID15\r", false, "ID15\r");
}

// An Enter right behind a keystroke or paste the box refused was meant for what the operator
// had in mind, not for what the box shows: it sends nothing and says that the next Enter sends
// what the box shows. The next Enter, or a click on the button, sends it.
void TestCommands::enterRightBehindARefusalSendsNothing() {
  QFETCH(QByteArray, box);
  QFETCH(QString, held);
  QFETCH(QString, typed);
  QFETCH(QString, pasted);
  QFETCH(QByteArray, firstEnter);
  QFETCH(bool, thenClick);
  Bench bench;
  bench.open();
  auto *entry = bench.control<QLineEdit>(box.constData());
  entry->setText(held);
  entry->setFocus();
  entry->selectAll();
  QTest::keyClicks(entry, typed);
  if (!pasted.isEmpty()) {
    QGuiApplication::clipboard()->setText(pasted);
    QTest::keyClick(entry, Qt::Key_V, Qt::ControlModifier);
  }
  takeNote();
  QTest::keyClick(entry, Qt::Key_Return);
  QCOMPARE(bench.device.read(), firstEnter);
  if (firstEnter.isEmpty()) {
    QCOMPARE(notePlacementFaults(entry), QString());
    QVERIFY2(takeNote().contains(QLatin1String("Not sent; Enter again sends it.")), "no note");
  }
  if (thenClick)
    bench.click(box == "Text1" ? "Command3" : "Command1");
  else
    QTest::keyClick(entry, Qt::Key_Return);
  QTEST(bench.device.read(), "then");
  QVERIFY(bench.boxes.texts.isEmpty());
}

void TestCommands::pressesOfTheOpeningKeyReachNoBox_data() {
  QTest::addColumn<int>("key");
  // Key events in order: P press, R release, lower case for an auto-repeat, each with the time
  // it happened in milliseconds.
  QTest::addColumn<QString>("events");
  QTest::addColumn<QByteArray>("sent");
  QTest::newRow("Enter twice, 150 ms apart")
      << int(Qt::Key_Return) << "P0 R80 P150 R230" << QByteArray();
  QTest::newRow("Enter held") << int(Qt::Key_Return) << "P0 r500 p500 r530 p530 r560 p560 R600"
                              << QByteArray();
  QTest::newRow("Enter held again right after")
      << int(Qt::Key_Enter) << "P0 R80 P300 r800 p800 r830 p830 R900" << QByteArray();
  QTest::newRow("Space twice, 150 ms apart")
      << int(Qt::Key_Space) << "P0 R80 P150 R230" << QByteArray();
  QTest::newRow("Enter again 600 ms later")
      << int(Qt::Key_Return) << "P0 R80 P680 R760" << QByteArray("ID00\r");
}

// Opening from the keyboard hands the focus to the address box: the opening key's repeats and a
// quick second press of it belong to the opening, and send nothing there. The times are the
// events' own, as the system stamps them.
void TestCommands::pressesOfTheOpeningKeyReachNoBox() {
  QFETCH(int, key);
  QFETCH(QString, events);
  Bench bench;
  bench.form.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&bench.form));
  bench.choose(QStringLiteral("COM3"), QStringLiteral("9600"), QStringLiteral("None"));
  bench.control("Command6")->setFocus();
  const QString text = key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r");
  for (const QString &event : events.split(QLatin1Char(' '))) {
    const QChar kind = event.at(0);
    QKeyEvent stroke(kind.toUpper() == QLatin1Char('P') ? QEvent::KeyPress : QEvent::KeyRelease,
                     key, Qt::NoModifier, text, kind.isLower());
    stroke.setTimestamp(event.mid(1).toULongLong());
    QApplication::sendEvent(bench.form.focusWidget(), &stroke);
  }
  QVERIFY(bench.form.MSComm1().PortOpen());
  QCOMPARE(bench.form.focusWidget(), bench.control("Text1"));
  QCOMPARE(bench.control<QLineEdit>("Text1")->text(), QStringLiteral("0"));
  QTEST(bench.device.read(), "sent");
  QVERIFY(bench.boxes.texts.isEmpty());
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

void TestCommands::closingWaitsForTheFramesLeaving_data() {
  QTest::addColumn<QString>("then");
  QTest::addColumn<QByteArray>("sent");
  QTest::addColumn<QString>("told");
  QTest::newRow("the device reads again")
      << "read" << QByteArray("@Power on lock enable\r*2-IniP\r") << QString();
  QTest::newRow("the operator discards them")
      << "discard" << QByteArray() << "2 frames were not sent";
  QTest::newRow("the device takes nothing") << "wait" << QByteArray() << "2 frames were not sent";
}

// The window closed right after two clicks, while the frames wait for a device that reads
// nothing for a while (at 1200 baud): the window stays live and a box counts what is leaving.
// Once the last frame has left whole, the port closes and so does the window; frames the device
// never took, or that the operator discarded from that box, are told in one box as it closes,
// and nothing of them reaches the device afterwards.
void TestCommands::closingWaitsForTheFramesLeaving() {
  QFETCH(QString, then);
  QFETCH(QString, told);
  Bench bench;
  bench.open(QStringLiteral("1200"));
  const qint64 filled = bench.device.fillUntilFull();
  bench.click("Command4");
  bench.click("Command5");
  PressWhenShown discarding(then == QLatin1String("discard"));
  bench.form.close();
  if (then == QLatin1String("read")) {
    QVERIFY(bench.form.isVisible() && bench.form.MSComm1().PortOpen());
    QProgressDialog *leaving = nullptr;
    QTRY_VERIFY((leaving = bench.form.findChild<QProgressDialog *>()) && leaving->isVisible());
    QVERIFY2(leaving->labelText().contains(QLatin1String("2 frames are still leaving")),
             qPrintable(leaving->labelText()));
    bench.device.readAgain();
  }
  QByteArray wire;
  QTRY_VERIFY((wire += bench.device.read(), !bench.form.isVisible()));
  QVERIFY(!bench.form.MSComm1().PortOpen());
  QCOMPARE(discarding.pressed, then == QLatin1String("discard"));
  QFETCH(QByteArray, sent);
  QCOMPARE(wire + bench.device.read(), QByteArray(filled, 'x') + sent);
  QCOMPARE(bench.boxes.texts.size(), told.isEmpty() ? 0 : 1);
  QVERIFY2(bench.boxes.texts.join('\n').contains(told), qPrintable(bench.boxes.texts.join('\n')));
  QCOMPARE(bench.boxes.texts.join('\n').contains(QLatin1String("stopped reading")),
           then == QLatin1String("wait"));
}

// The device lost while a frame waits: the box that says so counts it.
void TestCommands::lostDeviceCountsTheFramesWaiting() {
  Bench lost;
  lost.open();
  lost.device.fillUntilFull();
  lost.click("Command5");
  lost.device.closeDevice();
  QTRY_COMPARE(lost.boxes.texts.size(), 1);
  QVERIFY2(lost.boxes.texts.at(0).contains(QLatin1String("1 frame was not sent")),
           qPrintable(lost.boxes.texts.at(0)));
}

void TestCommands::refusedInputsWriteNothing_data() {
  QTest::addColumn<QByteArray>("box");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("shown");
  const auto row = [](const char *name, const char *box, const QString &text, const char *shown) {
    QTest::newRow(name) << QByteArray(box) << text << QString::fromUtf8(shown);
  };
  row("empty address", "Text1", "", "13");
  row("letters", "Text1", "ab", "13");
  row("negative", "Text1", "-1", "6");
  row("pasted command", "Text2", QStringLiteral("12\r@Power on lock enable"), "U+000D");
  row("line feed", "Text2", "1\n2", "a line break (U+000A)");
  row("tab", "Text2", "1\t2", "a tab (U+0009)");
  row("code set past 32", "Text2", QString(33, QLatin1Char('1')), "at most 32 characters");
  row("not in GBK", "Text2", QStringLiteral("ab😀"), "😀");
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

// After each frame the strip under the user code box says what went out and what came of it, a
// screen reader hears it, and the record holds the same, as the command line's would. A reply
// belongs to the frame that left last before it, also when it came while the next was leaving.
void TestCommands::eachFrameIsToldAndRecordedWithWhatCameOfIt() {
  RecordingBench bench;
  bench.open();
  auto *strip = bench.control<QLabel>("Label9");
  // The test ends each wait for a reply itself.
  auto *wait = bench.form.findChild<QTimer *>("replyWait");
  wait->setInterval(3600 * 1000);
  // What the strip says, as a screen reader reads it: whole, where a face wider than this
  // machine's would cut the frame in the strip.
  const auto shown = [strip] {
    return QAccessible::queryAccessibleInterface(strip)
        ->text(QAccessible::Name)
        .replace(QRegularExpression(QStringLiteral(R"(\d\d:\d\d:\d\d)")), QStringLiteral("T"));
  };
  const QByteArray reply("\x02ID=42 OK!!\r");
  const QString replyCells = recordHex(reply) + QLatin1Char('|') + replyText(reply);
  const QString address = QStringLiteral("address|42|49 44 34 32 0D|");
  const QString reset = QStringLiteral("reset-password||2A 32 2D 49 6E 69 50 0D|");
  const QString lock =
      QStringLiteral("power-on-lock||") + recordHex(powerOnLockFrame()) + QLatin1Char('|');

  accessibilityEvents.clear();
  bench.control<QLineEdit>("Text1")->setText(QStringLiteral("42"));
  bench.click("Command3");
  QCOMPARE(bench.device.read(), QByteArray("ID42\r"));
  QTRY_COMPARE(shown(), QStringLiteral("ID42 已发送 · sent T"));
  QVERIFY(accessibilityEvents.contains(
      std::pair<const QObject *, QAccessible::Event>(strip, QAccessible::NameChanged)));
  bench.device.write(reply);
  QTRY_COMPARE(shown(), QStringLiteral("ID42 已回复 · answered T"));
  QTRY_COMPARE(bench.boxes.texts, QStringList{replyText(reply)});

  // A note the operator must read covers the strip until it goes.
  auto *entry = bench.control<QLineEdit>("Text1");
  entry->deselect();
  entry->setCursorPosition(2);
  QTest::keyClick(entry, Qt::Key_7);
  QTRY_VERIFY(!strip->isVisible());
  QCOMPARE(notePlacementFaults(entry), QString());
  QVERIFY(takeNote().contains(QLatin1String("The address is 0 to 99")));
  QTRY_VERIFY(strip->isVisible());

  bench.click("Command5");
  QCOMPARE(bench.device.read(), QByteArray("*2-IniP\r"));
  QTRY_COMPARE(shown(), QStringLiteral("*2-IniP 已发送 · sent T"));
  wait->start(0);
  QTRY_COMPARE(shown(), QStringLiteral("*2-IniP：2 秒内没有回复。No reply within 2 s."));
  wait->setInterval(3600 * 1000);
  bench.device.write(reply);
  QTRY_COMPARE(shown(), QStringLiteral("*2-IniP 的回复迟到 · late reply T"));

  // The reply comes while the next frame waits for the line: it is the one before's.
  bench.click("Command4");
  QCOMPARE(bench.device.read(), powerOnLockFrame());
  QTRY_COMPARE(shown(), QStringLiteral("@Power on lock enable 已发送 · sent T"));
  bench.device.fillUntilFull();
  bench.click("Command5");
  // Held up by the line: the press shows all the same.
  QCOMPARE(shown(), QStringLiteral("*2-IniP 发送中 · leaving"));
  bench.device.write(reply);
  QTRY_COMPARE(shown(),
               QStringLiteral("@Power on lock enable 已回复（上一条）· answered (earlier)"));
  bench.device.readAgain();
  QByteArray wire;
  QTRY_VERIFY((wire += bench.device.read(), wire.endsWith("*2-IniP\r")));
  QTRY_COMPARE(shown(), QStringLiteral("*2-IniP 已发送 · sent T"));

  // A frame that leaves before the one before was answered ends that wait. A code too wide for
  // the strip is cut in the middle there, and read whole.
  const QString code(32, QChar(0x4E2D));
  bench.control<QLineEdit>("Text2")->setText(code);
  bench.click("Command1");
  QCOMPARE(bench.device.read(), userCodeFrame(code));
  QTRY_COMPARE(shown(), QStringLiteral("*@-") + code + QStringLiteral(" 已发送 · sent T"));
  QVERIFY2(strip->text().contains(QChar(0x2026)) &&
               strip->text().contains(QStringLiteral(" 已发送 · sent ")),
           qPrintable(strip->text()));
  QVERIFY(strip->fontMetrics().horizontalAdvance(strip->text()) <= strip->contentsRect().width());
  bench.device.write(reply);
  QTRY_VERIFY(shown().endsWith(QStringLiteral(" 已回复 · answered T")));
  bench.device.write(reply);
  QTRY_COMPARE(shown(), QStringLiteral("未请求的回复 · unasked reply T"));

  bench.form.MSComm1().setStrayGapMs(0);
  bench.device.write("\x01\x02\x03");
  QTRY_COMPARE_WITH_TIMEOUT(bench.boxes.texts.size(), 6, 3 * Form1::strayAloneMs);
  bench.click("Command5");
  QCOMPARE(bench.device.read(), QByteArray("*2-IniP\r"));
  QTRY_COMPARE(shown(), QStringLiteral("*2-IniP 已发送 · sent T"));
  bench.form.close();
  QTRY_VERIFY(!bench.form.MSComm1().PortOpen());

  const QString user = QStringLiteral("user-code||") + recordHex(userCodeFrame(code)) + '|';
  QCOMPARE(recordLines(bench.record),
           (QStringList{
               "sent|" + address + "||",
               "answered|" + address + replyCells + "|",
               "sent|" + reset + "||",
               "no-reply|" + reset + "||",
               "late|" + reset + replyCells + "|",
               "sent|" + lock + "||",
               "answered|" + lock + replyCells +
                   "|下一帧发送时到达。It came while the next frame "
                   "was leaving.",
               "sent|" + reset + "||",
               "no-reply|" + reset +
                   "||下一帧发出前没有回复。No reply came before the next "
                   "frame left.",
               "sent|" + user + "||",
               "answered|" + user + replyCells + "|",
               "unasked||||" + replyCells + "|",
               "stray||||01 02 03||",
               "sent|" + reset + "||",
               "stopped|" + reset + "||",
           }));
  QFile file(bench.record);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QVERIFY(file.readAll().contains(",COM3,\"9600,n,8,1\",address,"));
}

// Frames pressed faster than the line takes them leave one at a time, and each frame's line is
// on the disk before the next frame is handed to the system.
void TestCommands::recordLineIsOnTheDiskBeforeTheNextFrameIsHanded() {
  RecordingBench bench;
  bench.open();
  bench.form.findChild<QTimer *>("replyWait")->setInterval(3600 * 1000);
  // They wait together for a device that reads again.
  const qint64 filled = bench.device.fillUntilFull();
  watchedRecord = bench.record;
  sentLinesAtWrite.clear();
  bench.click("Command4");
  bench.click("Command5");
  bench.click("Command3");
  bench.device.readAgain();
  QByteArray wire;
  QTRY_VERIFY((wire += bench.device.read(), wire.endsWith("ID00\r")));
  watchedRecord.clear();
  QCOMPARE(wire, QByteArray(filled, 'x') + powerOnLockFrame() + "*2-IniP\rID00\r");
  QCOMPARE(sentLinesAtWrite, (QList<qsizetype>{0, 1, 2}));
  QTRY_COMPARE(recordLines(bench.record).size(), 5);
  QVERIFY(recordLines(bench.record).at(3).startsWith(QLatin1String("no-reply|reset-password|")));
}

// A record that cannot be written any more: a box says so, what was pressed but not handed over
// is not sent, and every button refuses with the reason; the frame on its way leaves whole.
void TestCommands::recordThatFailsStopsTheSending() {
  RecordingBench bench;
  bench.open();
  bench.form.findChild<QTimer *>("replyWait")->setInterval(3600 * 1000);
  const qint64 filled = bench.device.fillUntilFull();
  bench.click("Command4");
  bench.click("Command5");
  // The record may grow no more: its next write fails as on a full disk.
  rlimit limit{};
  QVERIFY(getrlimit(RLIMIT_FSIZE, &limit) == 0);
  const rlimit full{rlim_t(QFileInfo(bench.record).size()), limit.rlim_max};
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  QVERIFY(setrlimit(RLIMIT_FSIZE, &full) == 0);
  bench.device.readAgain();
  QByteArray wire;
  QTRY_VERIFY((wire += bench.device.read(), !bench.boxes.texts.isEmpty()));
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, oldHandler);
  QVERIFY2(bench.boxes.texts.at(0).contains(QLatin1String("could not be written")) &&
               bench.boxes.texts.at(0).contains(QLatin1String("Nothing more is sent")) &&
               bench.boxes.texts.at(0).contains(QLatin1String("1 frame was not sent")),
           qPrintable(bench.boxes.texts.at(0)));
  QTRY_VERIFY((wire += bench.device.read(), wire.size() >= filled + powerOnLockFrame().size()));
  QCOMPARE(wire + bench.device.read(), QByteArray(filled, 'x') + powerOnLockFrame());
  QCOMPARE(bench.boxes.texts.size(), 1);
  bench.click("Command3");
  QCOMPARE(bench.boxes.texts.size(), 2);
  QVERIFY(bench.boxes.texts.at(1).contains(QLatin1String("Nothing more is sent")));
  QCOMPARE(bench.device.read(), QByteArray());
  QCOMPARE(bench.control("Label9")->accessibleName(), QStringLiteral("*2-IniP 未发送 · not sent"));
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
