#include "support/boxes.h"
#include "window/form1.h"
#include "window/wrapbutton.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

class TestForm1 : public QObject {
  Q_OBJECT

private slots:
  void controlsAsDesigned_data();
  void controlsAsDesigned();
  void captionsFitTheirControls();
  void windowIsFixedAndTabsInOrder();
  void fontsAndLimitsOfTheEntryBoxes();
  void listsAreFilledWithoutSelection();
  void onlyAboutAndOpenRespondAtStart();
  void aboutShowsItsPairEachTime();
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

// Wrapped onto as many lines as the control's font needs, no caption may overflow its control.
void TestForm1::captionsFitTheirControls() {
  Form1 form;
  form.show();
  for (auto *label : form.findChildren<QLabel *>()) {
    const QRect needed = label->fontMetrics().boundingRect(
        label->contentsRect(), Qt::TextWordWrap | label->alignment(), label->text());
    QVERIFY2(label->contentsRect().contains(needed), qPrintable(label->objectName()));
  }
  for (auto *button : form.findChildren<WrapButton *>()) {
    const QRect room = button->captionRect();
    const QRect needed =
        button->fontMetrics().boundingRect(room, WrapButton::captionFlags, button->text());
    QVERIFY2(room.contains(needed), qPrintable(button->objectName()));
  }
  const QFontInfo face(form.font());
  QVERIFY2(face.family().contains(QLatin1String("UMing")) ||
               face.family().contains(QLatin1String("SimSun")),
           qPrintable(face.family()));
}

void TestForm1::windowIsFixedAndTabsInOrder() {
  Form1 form;
  QCOMPARE(form.windowTitle(), QStringLiteral("QELNOR彩屏设置软件 V2.0"));
  QCOMPARE(form.size(), QSize(449, 173));
  QCOMPARE(form.minimumSize(), form.maximumSize());

  QStringList chain;
  for (QWidget *w = form.findChild<QWidget *>("Text1"); chain.size() < 11;
       w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus && w->parentWidget() == &form)
      chain.append(w->objectName());
  QCOMPARE(chain, QStringList({"Text1", "Command3", "Text2", "Command1", "Command2", "Command5",
                               "Command4", "Combo1", "Combo2", "Combo3", "Command6"}));
}

void TestForm1::fontsAndLimitsOfTheEntryBoxes() {
  Form1 form;
  auto *address = form.findChild<QLineEdit *>("Text1");
  auto *code = form.findChild<QLineEdit *>("Text2");
  QCOMPARE(address->font().pointSize(), 24);
  QCOMPARE(address->font().weight(), QFont::Bold);
  QVERIFY(address->font().families().contains(QStringLiteral("SimSun")));
  QCOMPARE(code->font().pointSize(), 12);
  QVERIFY(QFontInfo(code->font()).fixedPitch());
  for (QLineEdit *entry : {address, code})
    QCOMPARE(entry->palette().color(QPalette::Text), form.palette().color(QPalette::Highlight));

  address->clear();
  QTest::keyClicks(address, QStringLiteral("123"));
  QCOMPARE(address->text(), QStringLiteral("12"));
  QTest::keyClicks(code, QString(40, QLatin1Char('x')));
  QCOMPARE(code->text().size(), 32);
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
  QCOMPARE(operatorAtBoxes.texts.at(0), QStringLiteral("QELNOR 彩屏系列专用设置软件"));
  QVERIFY(operatorAtBoxes.texts.at(1).contains(QStringLiteral("©")));
  QVERIFY(!operatorAtBoxes.texts.at(1).contains(QLatin1Char('\n')));
  QCOMPARE(operatorAtBoxes.texts.mid(2), operatorAtBoxes.texts.mid(0, 2));
  QVERIFY(!operatorAtBoxes.iconSeen && !operatorAtBoxes.untitled);
  QVERIFY(!form.findChild<QWidget *>("Command3")->isEnabled());
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
