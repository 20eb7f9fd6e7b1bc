#include "serial/serialport.h"
#include "support/boxes.h"
#include "support/process.h"
#include "support/pty.h"
#include "window/form1.h"
#include "window/messagebox.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <termios.h>
#include <thread>

namespace {

// A reply whose shown text is its sequence number, eleven digits wide.
QByteArray numberedReply(int n) { return "#" + QByteArray::number(n).rightJustified(11, '0'); }

// Reads boxes of numbered replies: each shown reply must come after the one before, and the
// count of replies shown or said to be dropped is returned.
qint64 accountFor(const QStringList &boxTexts, int &lastShown, bool &inOrder) {
  static const QRegularExpression reply(QStringLiteral(R"(^\d{11}$)"));
  static const QRegularExpression dropped(QStringLiteral(R"((\d+) repl(?:y|ies) dropped here)"));
  qint64 accounted = 0;
  for (const QString &text : boxTexts) {
    for (const QString &line : text.split(QLatin1Char('\n'))) {
      if (reply.match(line).hasMatch()) {
        inOrder &= line.toInt() > lastShown;
        lastShown = line.toInt();
        ++accounted;
      } else {
        accounted += dropped.match(line).captured(1).toLongLong();
      }
    }
  }
  return accounted;
}

} // namespace

class TestReplies : public QObject {
  Q_OBJECT

private slots:
  void init();
  void cleanup();
  void repliesInOrderWaitingOnesShareABox();
  void partialRepliesWaitStrayBytesAreDropped();
  void unprintableBytesStayVisible();
  void strayBytesNoReplyFollowsAreToldAlone();
  void hundredRepliesAtOnceTakeAFewBoxes();
  void fullBacklogSaysWhatItDropped();
  void floodKeepsMemoryBoundedAndCountsDrops();
  void lostDeviceGivesOneBoxAndTheOpenButtonBack();
  void boxesThatFollowOneAnotherOfferToCloseThePort();

private:
  void openOn(PseudoTerminal &device);
  // The test makes each silence after stray bytes itself: however slowly a busy machine lets
  // the bytes come, they wait until fallSilent() drops the given number of them.
  void holdStrayBytes() { form->MSComm1().setStrayGapMs(3600 * 1000); }
  bool fallSilent(qint64 waiting);
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

bool TestReplies::fallSilent(qint64 waiting) {
  SerialPort &port = form->MSComm1();
  if (!QTest::qWaitFor([&] { return port.InBufferCount() == waiting; }))
    return false;
  port.setStrayGapMs(0);
  const bool dropped = QTest::qWaitFor([&] { return port.InBufferCount() == 0; });
  holdStrayBytes();
  return dropped;
}

void TestReplies::repliesInOrderWaitingOnesShareABox() {
  device->write("ABCDEFGHIJKL");
  QTRY_COMPARE(boxes->texts, QStringList{"BCDEFGHIJKL"});
  QCOMPARE(form->findChild<QLabel *>("Label5")->text(), QStringLiteral("BCDEFGHIJKL"));

  device->write("0first reply1second repl");
  QTRY_COMPARE(boxes->texts.size(), 2);
  QCOMPARE(boxes->texts.at(1), QStringLiteral("first reply\nsecond repl"));
  QCOMPARE(form->findChild<QLabel *>("Label5")->text(), QStringLiteral("second repl"));
  QVERIFY(!boxes->twoAtOnce && !boxes->iconSeen && !boxes->untitled && !boxes->maximisable);
}

// A reply dribbled at line pace is one reply; bytes short of a reply followed by silence are
// noise, dropped and named in the next reply's box, so they cannot shift later replies. A
// device that sends 13-byte replies loses the 13th byte of each, never a reply.
void TestReplies::partialRepliesWaitStrayBytesAreDropped() {
  const SerialPort &port = form->MSComm1();
  holdStrayBytes();
  const QByteArray dribbled("123456789abc");
  for (qsizetype i = 0; i + 1 < dribbled.size(); ++i) {
    device->write(dribbled.mid(i, 1));
    QTRY_COMPARE(port.InBufferCount(), i + 1);
  }
  device->write(dribbled.right(1));
  QTRY_COMPARE(boxes->texts, QStringList{"23456789abc"});

  device->write("\x02\x03\x04\x05\x06");
  QVERIFY(fallSilent(5));
  device->write("ABCDEFGHIJKL");
  QTRY_COMPARE(boxes->texts.size(), 2);
  QCOMPARE(boxes->texts.at(1).section(QLatin1Char('\n'), 1), QStringLiteral("BCDEFGHIJKL"));
  QVERIFY2(boxes->texts.at(1)
               .section(QLatin1Char('\n'), 0, 0)
               .endsWith(QLatin1String("5 stray bytes ignored before this reply: 02 03 04 05 06")),
           qPrintable(boxes->texts.at(1)));

  for (const char *reply : {"-first reply+", "-secnd reply+", "-third reply+"}) {
    const qsizetype shown = boxes->texts.size();
    device->write(reply);
    QTRY_COMPARE(boxes->texts.size(), shown + 1);
    QVERIFY(fallSilent(1));
  }
  QCOMPARE(boxes->texts.at(2), QStringLiteral("first reply"));
  QCOMPARE(boxes->texts.at(3).section(QLatin1Char('\n'), 1), QStringLiteral("secnd reply"));
  QCOMPARE(boxes->texts.at(4).section(QLatin1Char('\n'), 1), QStringLiteral("third reply"));
  // No reply follows the last reply's 13th byte: it is told alone.
  QTRY_COMPARE_WITH_TIMEOUT(boxes->texts.size(), 6, 3000);
  QVERIFY2(
      boxes->texts.at(5).endsWith(QLatin1String("1 stray byte ignored, no reply followed: 2B")),
      qPrintable(boxes->texts.at(5)));
}

// Nothing the device sent vanishes without a word: stray bytes that no reply follows within
// Form1::strayAloneMs get a box of their own, noise that never falls silent for long is still
// told as it goes, and stray bytes still waiting when the port closes are named in the box
// that says so.
void TestReplies::strayBytesNoReplyFollowsAreToldAlone() {
  const auto strayCount = [](const QString &line) {
    static const QRegularExpression told(
        QStringLiteral(R"((\d+) stray bytes? ignored, no reply followed: )"));
    return told.match(line).captured(1).toInt();
  };
  // The wait is measured from the moment the bytes were dropped as stray to their box.
  QElapsedTimer sinceDropped;
  connect(&form->MSComm1(), &SerialPort::StrayDropped, this, [&] {
    if (!sinceDropped.isValid())
      sinceDropped.start();
  });
  device->write("ABCDEFGHIJK");
  QTRY_COMPARE_WITH_TIMEOUT(boxes->texts.size(), 1, 3 * Form1::strayAloneMs);
  QVERIFY2(sinceDropped.elapsed() >= Form1::strayAloneMs * 9 / 10,
           qPrintable(QStringLiteral("told after %1 ms").arg(sinceDropped.elapsed())));
  QVERIFY2(boxes->texts.at(0).endsWith(QLatin1String(
               "11 stray bytes ignored, no reply followed: 41 42 43 44 45 46 47 48 49 4A 4B")),
           qPrintable(boxes->texts.at(0)));

  // Stray bytes one after another with no pause between them: they are told while they keep
  // coming, not held back until the line falls silent.
  holdStrayBytes();
  QElapsedTimer streaming;
  streaming.start();
  int sent = 0;
  for (char byte = 'a'; boxes->texts.size() < 2 && streaming.elapsed() < 5 * Form1::strayAloneMs;
       byte = byte == 'z' ? 'a' : byte + 1) {
    device->write(QByteArray(1, byte));
    ++sent;
    QVERIFY(fallSilent(1));
  }
  QVERIFY2(boxes->texts.size() >= 2, "stray bytes that kept coming were held back");
  QTRY_COMPARE_WITH_TIMEOUT(
      [&] {
        int told = 0;
        for (const QString &text : boxes->texts.mid(1))
          for (const QString &line : text.split(QLatin1Char('\n')))
            told += strayCount(line);
        return told;
      }(),
      sent, 3 * Form1::strayAloneMs);

  // A boot banner, then the device goes before a reply could follow.
  const qsizetype before = boxes->texts.size();
  device->write("\x02\x03\x04\x05\x06");
  QVERIFY(fallSilent(5));
  device->closeDevice();
  QTRY_COMPARE(boxes->texts.size(), before + 1);
  QVERIFY2(boxes->texts.last().startsWith(QStringLiteral("错误 57")) &&
               boxes->texts.last().endsWith(
                   QStringLiteral("5 stray bytes with no reply after them were ignored when the "
                                  "port closed: 02 03 04 05 06")),
           qPrintable(boxes->texts.last()));
  // Told once: one stray byte on another device, whose box comes a full wait later than any of
  // the earlier bytes' could, is the next box.
  PseudoTerminal replacement;
  openOn(replacement);
  holdStrayBytes();
  replacement.write("z");
  QVERIFY(fallSilent(1));
  QTRY_COMPARE_WITH_TIMEOUT(boxes->texts.size(), before + 2, 3 * Form1::strayAloneMs);
  QVERIFY2(
      boxes->texts.last().endsWith(QLatin1String("1 stray byte ignored, no reply followed: 7A")),
      qPrintable(boxes->texts.last()));
}

void TestReplies::unprintableBytesStayVisible() {
  device->write(QByteArray("-A\0B\x01\x7f\xff\xd6\xd0"
                           "ZQ\xb0",
                           12));
  QTRY_COMPARE(boxes->texts.size(), 1);
  QCOMPARE(boxes->texts.at(0), QStringLiteral("A␀B␁␡⟨FF⟩中ZQ⟨B0⟩"));

  const auto drawn = [](const QString &text) {
    QMessageBox box;
    setBoxText(box, text);
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    label->adjustSize();
    return label->grab().toImage();
  };
  // A control picture's two letters, stacked, are drawn half again as tall as a capital: at the
  // text's own size they are a few grey pixels.
  const auto inkHeight = [&](const QString &text) {
    const QImage image = drawn(text);
    int top = image.height();
    int bottom = -1;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        if (qGray(image.pixel(x, y)) < 128) {
          top = qMin(top, y);
          bottom = y;
        }
    return bottom - top + 1;
  };
  QVERIFY(inkHeight(QStringLiteral("␍")) >= inkHeight(QStringLiteral("O")) * 3 / 2);

  // A byte that cannot be drawn is set off in reverse video, so that it is not read as the
  // parentheses a device can send: the pixels of the text's colour make most of its area.
  const auto textColoured = [&](const QString &text) {
    const QImage image = drawn(text);
    const QRgb ink = QMessageBox().palette().color(QPalette::WindowText).rgb();
    qsizetype count = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x)
        count += image.pixel(x, y) == ink;
    return count;
  };
  const qsizetype marked = textColoured(QStringLiteral("⟨80⟩"));
  const qsizetype typed = textColoured(QStringLiteral("(80)"));
  qInfo("pixels of the text's colour: %lld in ⟨80⟩, %lld in (80)", qint64(marked), qint64(typed));
  QVERIFY2(marked > 4 * typed, qPrintable(QStringLiteral("%1 against %2").arg(marked).arg(typed)));
}

void TestReplies::hundredRepliesAtOnceTakeAFewBoxes() {
  QByteArray burst;
  for (int n = 0; n < 100; ++n)
    burst += numberedReply(n);
  device->write(burst);
  bool inOrder = true;
  const auto accounted = [&] {
    int lastShown = -1;
    inOrder = true;
    return accountFor(boxes->texts, lastShown, inOrder);
  };
  QTRY_COMPARE(accounted(), 100);
  QVERIFY(inOrder);
  QVERIFY2(boxes->texts.size() <= 8, qPrintable(QString::number(boxes->texts.size())));
}

// While the operator reads a box, at most 64 replies wait; what comes on top is counted and the
// notice says what that was: replies, stray bytes or both, never "0 replies". The boxes that
// follow say how many boxes the waiting replies fill.
void TestReplies::fullBacklogSaysWhatItDropped() {
  boxes.reset();
  // The operator holds the first box open while the device sends 64 replies, then noise; the
  // steps are taken from the timer, which also runs inside the loop of the open box.
  QStringList texts;
  enum class Step { FirstBox, Replies, Noise, Reading } step = Step::FirstBox;
  QElapsedTimer sinceNoise;
  QTimer atTheBoxes;
  connect(&atTheBoxes, &QTimer::timeout, this, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (box && box->isVisible() && !box->property("seen").toBool()) {
      box->setProperty("seen", true);
      texts.append(box->text());
    }
    switch (step) {
    case Step::FirstBox: {
      if (!box)
        return;
      QByteArray burst;
      for (int n = 1; n <= 64; ++n)
        burst += numberedReply(n);
      device->write(burst);
      step = Step::Replies;
      return;
    }
    case Step::Replies:
      if (form->MSComm1().InBufferCount() > 0)
        return;
      device->write("\x01\x02\x03");
      sinceNoise.start();
      step = Step::Noise;
      return;
    case Step::Noise:
      if (sinceNoise.elapsed() > 300)
        step = Step::Reading;
      return;
    case Step::Reading:
      if (box && box->isVisible())
        box->accept();
      return;
    }
  });
  atTheBoxes.start(5);
  device->write(numberedReply(0));
  QTRY_COMPARE_WITH_TIMEOUT(texts.size(), 6, 10000);
  QCOMPARE(texts.at(0), QStringLiteral("00000000000"));
  QVERIFY2(texts.at(1).endsWith(QLatin1String("48 more replies follow in the next 3 boxes.")),
           qPrintable(texts.at(1)));
  QVERIFY2(texts.at(3).endsWith(QLatin1String("16 more replies follow in the next box.")),
           qPrintable(texts.at(3)));
  QCOMPARE(texts.at(4).split(QLatin1Char('\n')).size(), 16);
  QCOMPARE(texts.at(5), QStringLiteral("此处有 3 个杂散字节被丢弃：等待的回复过多。3 stray bytes "
                                       "dropped here: too many replies were waiting."));
  for (const QString &text : texts)
    QVERIFY2(!text.contains(QLatin1String("0 replies")), qPrintable(text));
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
  std::atomic<bool> whole = false;
  std::thread writer([&] {
    whole = device->writeAll(flood);
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
        accounted += accountFor(std::exchange(boxes->texts, {}), lastShown, inOrder);
        return accounted == replies || !inOrder || growthKb > boundKb;
      }(),
      60000);
  // The writer only finishes while the window keeps reading, so keep its event loop turning.
  QTRY_VERIFY(written);
  writer.join();
  QVERIFY(whole);
  QVERIFY(inOrder);
  QVERIFY2(growthKb < boundKb, qPrintable(QStringLiteral("grew by %1 kB").arg(growthKb)));
  QCOMPARE(accounted, replies);
  QVERIFY(!boxes->twoAtOnce);
}

void TestReplies::lostDeviceGivesOneBoxAndTheOpenButtonBack() {
  // The start of a reply that the loss cut short is named in the loss box, not lost.
  device->write("\x02\x03\x04");
  QTRY_COMPARE(form->MSComm1().InBufferCount(), 3);
  device->closeDevice();
  QTRY_COMPARE(boxes->texts.size(), 1);
  QVERIFY(boxes->texts.at(0).contains(QLatin1String("57")));
  QVERIFY2(boxes->texts.at(0).contains(QLatin1String("The device was disconnected")),
           qPrintable(boxes->texts.at(0)));
  QVERIFY2(boxes->texts.at(0).contains(QLatin1String("02 03 04")), qPrintable(boxes->texts.at(0)));
  QVERIFY(!form->MSComm1().PortOpen());
  QVERIFY(control("Command6")->isEnabled());
  for (const char *name : {"Combo1", "Combo2", "Combo3"})
    QVERIFY2(control(name)->isEnabled(), name);
  for (const char *name : {"Command3", "Command1", "Command4", "Command5"})
    QVERIFY2(!control(name)->isEnabled(), name);

  const qint64 before = cpuMs();
  QTest::qWait(1000);
  QCOMPARE(boxes->texts.size(), 1);
  QVERIFY2(cpuMs() - before < 300, "the window keeps the CPU busy after the device left");

  qobject_cast<QPushButton *>(control("Command6"))->click();
  QCOMPARE(boxes->texts.size(), 2);
  QVERIFY2(boxes->texts.at(1).startsWith(QStringLiteral("错误 8002")),
           qPrintable(boxes->texts.at(1)));

  PseudoTerminal replacement;
  openOn(replacement);
  replacement.write("ABCDEFGHIJKL");
  QTRY_COMPARE(boxes->texts.size(), 3);
  QCOMPARE(boxes->texts.at(2), QStringLiteral("BCDEFGHIJKL"));
}

// A device that never stops sending (the wrong port, the wrong rate): the first box offers
// nothing more, the next one, of replies that came meanwhile, offers to close the port. Taking
// it ends the boxes with one that counts what still waited.
void TestReplies::boxesThatFollowOneAnotherOfferToCloseThePort() {
  boxes->closePortWhenOffered = true;
  int sent = 0;
  QTimer stream;
  connect(&stream, &QTimer::timeout, this, [&] {
    // Bounded, so that a window that offers no way out fails here instead of hanging.
    if (form->MSComm1().PortOpen() && sent < 2000)
      device->write(numberedReply(sent++));
  });
  stream.start(1);
  QTRY_VERIFY(!form->MSComm1().PortOpen());
  QTRY_VERIFY(boxes->texts.last().startsWith(QStringLiteral("串口已关闭。The port is closed.")));
  QCOMPARE(boxes->closeOffers, 1);
  QVERIFY(boxes->texts.size() >= 3);
  QVERIFY(!boxes->iconSeen && !boxes->twoAtOnce);
  QVERIFY(control("Command6")->isEnabled());
}

QTEST_MAIN(TestReplies)
#include "tst_replies.moc"
