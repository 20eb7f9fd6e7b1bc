#include "serial/serialport.h"
#include "support/boxes.h"
#include "window/form1.h"
#include "window/messagebox.h"

#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QToolTip>
#include <QtTest>

class TestForm1 : public QObject {
  Q_OBJECT

private slots:
  void controlsAsDesigned_data();
  void controlsAsDesigned();
  void windowIsFixedAndTabsInOrder();
  void fontsAndLimitsOfTheEntryBoxes();
  void listsAreFilledWithoutSelection();
  void onlyAboutAndOpenRespondAtStart();
  void aboutShowsItsPairEachTime();
  void keyboardPressesAndClosesAsOnThePlatform();
  void everyControlHasAnAccessibleName();
  void boxTextCanBeSelectedAndCopied();
  void boxIsWideEnoughForItsTitle();
};

void TestForm1::controlsAsDesigned_data() {
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QRect>("twips");
  const auto row = [](const char *name, const QString &caption, int l, int t, int w, int h) {
    QTest::newRow(name) << caption << QRect(l, t, w, h);
  };
  row("Label1", QStringLiteral("通讯地址设置："), 120, 240, 1335, 255);
  row("Label2", QStringLiteral("用户码："), 240, 1080, 855, 255);
  row("Text1", QStringLiteral("0"), 1560, 120, 855, 615);
  row("Command3", QStringLiteral("更新 Updata"), 2520, 120, 975, 615);
  row("Text2", QString(), 1320, 1200, 3975, 345);
  row("Command1", QStringLiteral("更新 Updata"), 5520, 1080, 975, 615);
  row("Command2", QStringLiteral("关于about.."), 240, 1800, 1695, 615);
  row("Command5", QStringLiteral("初始化密码  Initial password"), 4680, 1800, 1815, 615);
  row("Label3", QStringLiteral("Communication    address："), 120, 480, 1335, 375);
  row("Label4", QStringLiteral("User code："), 240, 1320, 1095, 255);
  row("Command4", QStringLiteral("使用开机密码功能enable start-password"), 2400, 1800, 1815, 615);
  row("Label5", QString(), 2640, 840, 615, 255);
  row("Combo1", QStringLiteral("COM1"), 4440, 120, 855, 300);
  row("Combo2", QStringLiteral("2400"), 4440, 480, 855, 300);
  row("Combo3", QStringLiteral("None"), 4440, 840, 855, 300);
  row("Label6", QStringLiteral("串口"), 3840, 120, 495, 255);
  row("Label7", QStringLiteral("波特率"), 3720, 480, 615, 255);
  row("Label8", QStringLiteral("校验位"), 3720, 840, 615, 255);
  row("Command6", QStringLiteral("打开串口"), 5520, 480, 975, 495);
}

void TestForm1::controlsAsDesigned() {
  QFETCH(QString, caption);
  QFETCH(QRect, twips);
  Form1 form;
  const QString name = QString::fromLatin1(QTest::currentDataTag());
  auto *control = form.findChild<QWidget *>(name);
  QVERIFY(control);
  const QRect pixels(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
  QCOMPARE(control->geometry(), pixels);
  QString text;
  if (auto *label = qobject_cast<QLabel *>(control))
    text = label->text();
  else if (auto *button = qobject_cast<QAbstractButton *>(control))
    text = button->text();
  else if (auto *edit = qobject_cast<QLineEdit *>(control))
    text = edit->text();
  else if (auto *combo = qobject_cast<QComboBox *>(control))
    text = combo->currentText();
  QCOMPARE(text, caption);
  QCOMPARE(control->isVisibleTo(&form), name != QLatin1String("Label5"));
}

void TestForm1::windowIsFixedAndTabsInOrder() {
  Form1 form;
  QCOMPARE(form.windowTitle(), QStringLiteral("QELNOR彩屏设置软件 V2.0"));
  QCOMPARE(form.size(), QSize(449, 173));
  QCOMPARE(form.minimumSize(), form.maximumSize());
  QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));

  QStringList chain;
  for (QWidget *w = form.findChild<QWidget *>("Text1"); chain.size() < 11;
       w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus && w->parentWidget() == &form)
      chain.append(w->objectName());
  // Each row from left to right: the bottom row is About, the power-on password, the reset.
  QCOMPARE(chain, QStringList({"Text1", "Command3", "Text2", "Command1", "Command2", "Command4",
                               "Command5", "Combo1", "Combo2", "Combo3", "Command6"}));
}

void TestForm1::fontsAndLimitsOfTheEntryBoxes() {
  Form1 form;
  auto *address = form.findChild<QLineEdit *>("Text1");
  auto *code = form.findChild<QLineEdit *>("Text2");
  QCOMPARE(address->font().pointSize(), 24);
  QCOMPARE(address->font().weight(), QFont::Bold);
  QVERIFY(address->font().families().contains(QStringLiteral("SimSun")));
  QVERIFY(QFontInfo(code->font()).fixedPitch());

  // A full code shows whole: with the caret at its end, its first character is still in view.
  form.show();
  code->setText(QString(32, QLatin1Char('W')));
  code->end(false);
  QCOMPARE(code->cursorPositionAt(QPoint(5, code->height() / 2)), 0);
  code->clear();

  address->clear();
  QTest::keyClicks(address, QStringLiteral("123"));
  QCOMPARE(address->text(), QStringLiteral("12"));
  QVERIFY(QToolTip::isVisible() && QToolTip::text().contains(QLatin1String("0 to 99")));
  QTest::keyClicks(code, QString(40, QLatin1Char('x')));
  QCOMPARE(code->text().size(), 32);
  QVERIFY(QToolTip::isVisible() && QToolTip::text().contains(QLatin1String("holds 32 at most")));
}

void TestForm1::listsAreFilledWithoutSelection() {
  Form1 form;
  const auto items = [&](const char *name) {
    auto *box = form.findChild<QComboBox *>(name);
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
      texts.append(box->itemText(i));
    return std::pair(texts, box->currentIndex());
  };
  QStringList ports;
  for (int n = 1; n <= 15; ++n)
    ports.append(QStringLiteral("COM%1").arg(n));
  QCOMPARE(items("Combo1"), std::pair(ports, -1));
  QCOMPARE(items("Combo2"), std::pair(QStringList({"1200", "2400", "4800", "9600"}), -1));
  QCOMPARE(items("Combo3"), std::pair(QStringList({"None", "Odd", "Even"}), -1));

  // Typed texts are used as they stand: no completion to a list item, no new items.
  auto *port = form.findChild<QComboBox *>("Combo1");
  port->clearEditText();
  QTest::keyClicks(port, QStringLiteral("com3"));
  QTest::keyClick(port, Qt::Key_Return);
  QCOMPARE(port->currentText(), QStringLiteral("com3"));
  QCOMPARE(port->count(), 15);

  // The arrows move from the item the list shows, though the program picked none.
  auto *rate = form.findChild<QComboBox *>("Combo2");
  rate->setFocus();
  QTest::keyClick(rate, Qt::Key_Down);
  QCOMPARE(rate->currentText(), QStringLiteral("4800"));
  auto *parity = form.findChild<QComboBox *>("Combo3");
  QTest::keyClick(parity->lineEdit(), Qt::Key_Down);
  QCOMPARE(parity->currentText(), QStringLiteral("Odd"));
}

void TestForm1::onlyAboutAndOpenRespondAtStart() {
  Form1 form;
  for (const char *name : {"Command3", "Command1", "Command4", "Command5"})
    QVERIFY2(!form.findChild<QWidget *>(name)->isEnabled(), name);
  for (const char *name : {"Command2", "Command6"})
    QVERIFY2(form.findChild<QWidget *>(name)->isEnabled(), name);
}

void TestForm1::aboutShowsItsPairEachTime() {
  Form1 form;
  form.show();
  BoxOperator operatorAtBoxes;
  auto *about = form.findChild<QAbstractButton *>("Command2");
  about->click();
  about->click();
  QCOMPARE(operatorAtBoxes.texts.size(), 4);
  QCOMPARE(operatorAtBoxes.texts.at(0),
           QStringLiteral("QELNOR 彩屏系列专用设置软件\n版本 Version " QELNOR_VERSION));
  QVERIFY(operatorAtBoxes.texts.at(1).contains(QStringLiteral("©")));
  // The notice agrees with the licence the program is given under.
  QVERIFY(operatorAtBoxes.texts.at(1).contains(QStringLiteral("MIT licence")));
  QVERIFY(!operatorAtBoxes.texts.at(1).contains(QLatin1Char('\n')));
  QCOMPARE(operatorAtBoxes.texts.mid(2), operatorAtBoxes.texts.mid(0, 2));
  QVERIFY(!operatorAtBoxes.iconSeen && !operatorAtBoxes.untitled && !operatorAtBoxes.maximisable);
  QVERIFY(!form.findChild<QWidget *>("Command3")->isEnabled());
}

// Enter and Return press the focused button, as Space does; Esc closes a box.
void TestForm1::keyboardPressesAndClosesAsOnThePlatform() {
  Form1 form;
  form.show();
  int closedWithEscape = 0;
  QTimer escape;
  connect(&escape, &QTimer::timeout, this, [&] {
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
      QTest::keyClick(box, Qt::Key_Escape);
      ++closedWithEscape;
    }
  });
  escape.start(5);
  auto *about = form.findChild<QWidget *>("Command2");
  about->setFocus();
  QTest::keyClick(about, Qt::Key_Return);
  QTest::keyClick(about, Qt::Key_Enter);
  QCOMPARE(closedWithEscape, 4);
}

void TestForm1::everyControlHasAnAccessibleName() {
  Form1 form;
  // The reply label holds the last reply, which is not its name.
  form.findChild<QLabel *>("Label5")->setText(QStringLiteral("BCDEFGHIJKL"));
  const QList<std::pair<const char *, QString>> names{
      {"Form1", QStringLiteral("QELNOR彩屏设置软件 V2.0")},
      {"Text1", QStringLiteral("通讯地址 Communication address")},
      {"Text2", QStringLiteral("用户码 User code")},
      {"Combo1", QStringLiteral("串口 Port")},
      {"Combo2", QStringLiteral("波特率 Baud rate")},
      {"Combo3", QStringLiteral("校验位 Parity")},
      {"Command3", QStringLiteral("更新通讯地址 Update address")},
      {"Command1", QStringLiteral("更新用户码 Update user code")},
      {"Command4", QStringLiteral("使用开机密码功能 enable start-password")},
      {"Command6", QStringLiteral("打开串口 Open port")},
      {"Label5", QStringLiteral("最后的回复 Last reply")}};
  for (const auto &[name, expected] : names) {
    QWidget *control = name == QLatin1String("Form1") ? &form : form.findChild<QWidget *>(name);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
    QVERIFY2(accessible, name);
    // On Linux Qt gives a list its value as its name and names it through its label instead.
    if (!qobject_cast<QComboBox *>(control) || accessible->text(QAccessible::Name) == expected) {
      QCOMPARE(accessible->text(QAccessible::Name), expected);
      continue;
    }
    QCOMPARE(control->accessibleName(), expected);
    // The caption read through the relation, in both languages, and the field inside named.
    QVERIFY2(!accessible->relations(QAccessible::Label).isEmpty(), name);
    QCOMPARE(accessible->relations(QAccessible::Label).first().first->text(QAccessible::Name),
             expected);
    QCOMPARE(QAccessible::queryAccessibleInterface(qobject_cast<QComboBox *>(control)->lineEdit())
                 ->text(QAccessible::Name),
             expected);
  }
  // The window is a frame (a window), not a filler; the feature is called the power-on password.
  QCOMPARE(QAccessible::queryAccessibleInterface(&form)->role(), QAccessible::Window);
  QVERIFY(QAccessible::queryAccessibleInterface(form.findChild<QWidget *>("Command4"))
              ->text(QAccessible::Description)
              .contains(QLatin1String("power-on password")));
}

// A box's text can be selected with the mouse; Ctrl+C copies the selection, or all of it.
void TestForm1::boxTextCanBeSelectedAndCopied() {
  Form1 form;
  form.show();
  QStringList copied;
  QTimer atTheBox;
  connect(&atTheBox, &QTimer::timeout, this, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    // Ctrl+C is the box's shortcut, so it only reaches it once the box is the active window.
    if (!box || !box->isActiveWindow())
      return;
    auto *label = box->findChild<QLabel *>("qt_msgbox_label");
    QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    copied.append(QGuiApplication::clipboard()->text());
    label->setSelection(0, 5);
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    copied.append(QGuiApplication::clipboard()->text());
    box->accept();
  });
  atTheBox.start(5);
  showMessageBox(&form, QStringLiteral("错误 57  Error 57\n设备已断开"));
  QCOMPARE(copied, QStringList({QStringLiteral("错误 57  Error 57\n设备已断开"),
                                QStringLiteral("错误 57")}));
}

// A short box is still wide enough for a window manager to show its whole title beside the
// frame's icon and buttons (openbox showed "QEL... 软件" on a short reply).
void TestForm1::boxIsWideEnoughForItsTitle() {
  Form1 form;
  form.show();
  int width = 0;
  QTimer atTheBox;
  connect(&atTheBox, &QTimer::timeout, this, [&] {
    if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
      width = box->width();
      box->accept();
    }
  });
  atTheBox.start(5);
  showMessageBox(&form, QStringLiteral("A"));
  QFont bold = QApplication::font("QMdiSubWindowTitleBar");
  bold.setBold(true);
  const int title = QFontMetrics(bold).horizontalAdvance(applicationTitle());
  QVERIFY2(width >= title + 4 * 28,
           qPrintable(QStringLiteral("%1 for a title of %2").arg(width).arg(title)));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
