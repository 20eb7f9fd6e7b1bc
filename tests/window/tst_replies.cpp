#include "serial/serialport.h"
#include "support/boxes.h"
#include "support/process.h"
#include "support/pty.h"
#include "window/form1.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

// A reply whose shown text is its sequence number, eleven digits wide.
QByteArray numberedReply(int n) { return "#" + QByteArray::number(n).rightJustified(11, '0'); }

} // namespace

class TestReplies : public QObject {
  Q_OBJECT

private slots:
  void init();
  void cleanup();
  void eachReplyInItsOwnBoxInOrder();
  void partialRepliesWaitForTheirRest();
  void unprintableBytesStayVisible();
  void floodKeepsMemoryBoundedAndCountsDrops();
  void lostDeviceGivesOneBoxAndTheOpenButtonBack();

private:
  void openOn(PseudoTerminal &device);
  QWidget *control(const char *name) { return form->findChild<QWidget *>(name); }

  std::unique_ptr<PseudoTerminal> device;
  std::unique_ptr<Form1> form;
  std::unique_ptr<BoxOperator> boxes;
};

void TestReplies::init() {
  device = std::make_unique<PseudoTerminal>();
  form = std::make_unique<Form1>();
  boxes = std::make_unique<BoxOperator>();
  form->show();
  openOn(*device);
}

void TestReplies::cleanup() {
  boxes.reset();
  form.reset();
  device.reset();
}

void TestReplies::openOn(PseudoTerminal &pty) {
  form->MSComm1().setDeviceResolver([path = pty.path()](int) { return path; });
  qobject_cast<QPushButton *>(control("Command6"))->click();
  QVERIFY(form->MSComm1().PortOpen());
}

void TestReplies::eachReplyInItsOwnBoxInOrder() {
  device->write("ABCDEFGHIJKL");
  QTRY_COMPARE(boxes->texts, QStringList{"BCDEFGHIJKL"});
  QCOMPARE(form->findChild<QLabel *>("Label5")->text(), QStringLiteral("BCDEFGHIJKL"));

  device->write("0first reply1second repl");
  QTRY_COMPARE(boxes->texts.size(), 3);
  QCOMPARE(boxes->texts.mid(1), QStringList({"first reply", "second repl"}));
  QVERIFY(!boxes->twoAtOnce && !boxes->iconSeen && !boxes->untitled);
}

void TestReplies::partialRepliesWaitForTheirRest() {
  device->write("1234567");
  QTest::qWait(200);
  QVERIFY(boxes->texts.isEmpty());
  device->write("89abc");
  QTRY_COMPARE(boxes->texts, QStringList{"23456789abc"});

  device->write("xHELLO");
  QTest::qWait(50);
  device->write(" WORLD");
  QTRY_COMPARE(boxes->texts.size(), 2);
  QCOMPARE(boxes->texts.at(1), QStringLiteral("HELLO WORLD"));
}

void TestReplies::unprintableBytesStayVisible() {
  device->write(QByteArray("-A\0B\x01\x7f\xff\xd6\xd0"
                           "ZQ\xb0",
                           12));
  QTRY_COMPARE(boxes->texts.size(), 1);
  QCOMPARE(boxes->texts.at(0), QStringLiteral("A␀B␁␡\\xFF中ZQ\\xB0"));
}

// A device that never stops sending: every reply is either shown, in order, or counted in a
// notice, and the waiting replies do not pile up in memory.
void TestReplies::floodKeepsMemoryBoundedAndCountsDrops() {
  constexpr int replies = 200'000;
  QByteArray flood;
  for (int n = 0; n < replies; ++n)
    flood += numberedReply(n);
  const qint64 residentBefore = residentKb();
  std::atomic<bool> written = false;
  std::thread writer([&] {
    device->write(flood);
    written = true;
  });

  constexpr qint64 boundKb = 16 * 1024;
  qint64 accounted = 0;
  int lastShown = -1;
  bool inOrder = true;
  qint64 growthKb = 0;
  // Sampled from a timer, which also fires inside the loops of the boxes.
  QTimer sampler;
  connect(&sampler, &QTimer::timeout, this,
          [&] { growthKb = qMax(growthKb, residentKb() - residentBefore); });
  sampler.start(1);
  QTRY_VERIFY_WITH_TIMEOUT(
      [&] {
        for (const QString &text : std::exchange(boxes->texts, {})) {
          const int shown = text.left(11).toInt();
          inOrder &= shown > lastShown;
          lastShown = shown;
          accounted += 1 + text.section(QLatin1Char('\n'), 2, 2).section(' ', 1, 1).toLongLong();
        }
        return accounted == replies || !inOrder || growthKb > boundKb;
      }(),
      60000);
  // The writer only finishes while the window keeps reading, so keep its event loop turning.
  QTRY_VERIFY(written);
  writer.join();
  QVERIFY(inOrder);
  QVERIFY2(growthKb < boundKb, qPrintable(QStringLiteral("grew by %1 kB").arg(growthKb)));
  QCOMPARE(accounted, replies);
  QVERIFY(!boxes->twoAtOnce);
}

void TestReplies::lostDeviceGivesOneBoxAndTheOpenButtonBack() {
  device->closeDevice();
  QTRY_COMPARE(boxes->texts.size(), 1);
  QVERIFY(boxes->texts.at(0).contains(QLatin1String("57")));
  QVERIFY(!form->MSComm1().PortOpen());
  QVERIFY(control("Command6")->isEnabled());
  for (const char *name : {"Command3", "Command1", "Command4", "Command5"})
    QVERIFY2(!control(name)->isEnabled(), name);

  const qint64 before = cpuMs();
  QTest::qWait(1000);
  QCOMPARE(boxes->texts.size(), 1);
  QVERIFY2(cpuMs() - before < 300, "the window keeps the CPU busy after the device left");

  PseudoTerminal replacement;
  openOn(replacement);
  replacement.write("ABCDEFGHIJKL");
  QTRY_COMPARE(boxes->texts.size(), 2);
  QCOMPARE(boxes->texts.at(1), QStringLiteral("BCDEFGHIJKL"));
}

QTEST_MAIN(TestReplies)
#include "tst_replies.moc"
