#include "device/backlog.h"
#include "device/replytext.h"

#include <QtTest>

class TestReplyText : public QObject {
  Q_OBJECT

private slots:
  void shownText_data();
  void shownText();
  void backlogGroupsRepliesAndCountsGaps();
  void strayBytesNoReplyFollowed();
  void dropNoticeSaysWhatWasDropped();
  void moreRepliesNameTheBoxesTheyFill();
  void closingCountsWhatWaited();
};

void TestReplyText::shownText_data() {
  QTest::addColumn<QByteArray>("block");
  QTest::addColumn<QString>("text");
  const auto row = [](const char *name, const QByteArray &block, const QString &text) {
    QTest::newRow(name) << block << text;
  };
  row("bytes 1 to 11", "ABCDEFGHIJKL", "BCDEFGHIJKL");
  row("long block cut at byte 11", "ABCDEFGHIJKLMNOPQRST", "BCDEFGHIJKL");
  row("byte 0 never shown", QByteArray("\0OK", 3), "OK");
  row("zero byte does not truncate", QByteArray("xAB\0CDEFGHIJ", 12), "AB\u2400CDEFGHIJ");
  row("control pictures", "x\x01\x1f\r\n\x7f", "\u2401\u241F\u240D\u240A\u2421");
  row("lone high byte",
      "x\xFF"
      "AB",
      "⟨FF⟩AB");
  row("lead byte with invalid trail", "x\xD6 1", "⟨D6⟩ 1");
  row("GBK pair", "x\xD6\xD0\xCE\xC4!", "中文!");
  row("user-defined GBK pair", "x\xAA\xA1", "⟨AA⟩⟨A1⟩");
  row("lead at byte 11, trail at byte 12", "xABCDEFGHIJ\xD6\xD0", "ABCDEFGHIJ⟨D6⟩");
  row("lead as last byte of short block", "xA\xD6", "A⟨D6⟩");
  row("short block", "xAB", "AB");
  // A lead byte takes the letter after it as its trail: one character, not a byte and a letter.
  row("lead byte and a letter",
      "x\xB0"
      "A1",
      "癆1");
  // The hex of a byte that cannot be drawn differs from the same four characters sent as text.
  row("backslash x sent as text", "x\\x80\x80", "\\x80⟨80⟩");
  row("one byte", "x", "");
  row("empty", "", "");
}

void TestReplyText::shownText() {
  QFETCH(QByteArray, block);
  QFETCH(QString, text);
  QCOMPARE(replyText(block), text);
}

// Noise, a flood and a full backlog as the boxes tell them: every reply once and in order, or
// counted where it was dropped; stray bytes named before the reply they came before.
void TestReplyText::backlogGroupsRepliesAndCountsGaps() {
  ReplyBacklog backlog(3);
  const auto nextBox = [&](qsizetype lines) {
    const QList<LineEvent> events = backlog.take(lines);
    return boxText(events, backlog.repliesWaiting()).split(QLatin1Char('\n'));
  };
  backlog.pushStray("\x02\x03");
  QVERIFY(!backlog.hasWaiting());
  for (const char *reply : {"#reply one..", "#reply two.."})
    backlog.push(reply);
  backlog.pushStray("\x05");
  backlog.push("#reply three");
  backlog.push("#dropped one");
  backlog.pushStray("\x06\x07");
  backlog.push("#dropped two");

  QStringList box = nextBox(2);
  QCOMPARE(box.size(), 4);
  QVERIFY(box.at(0).endsWith(QLatin1String("2 stray bytes ignored before this reply: 02 03")));
  QCOMPARE(box.mid(1, 2), QStringList({"reply one..", "reply two.."}));
  QVERIFY2(box.at(3).endsWith(QLatin1String("1 more reply follows in the next box.")),
           qPrintable(box.at(3)));

  backlog.push("#after room.");
  box = nextBox(16);
  QCOMPARE(box.size(), 4);
  QVERIFY(box.at(0).endsWith(QLatin1String("1 stray byte ignored before this reply: 05")));
  QCOMPARE(box.at(1), QStringLiteral("reply three"));
  QVERIFY(box.at(2).contains(QLatin1String("2 replies dropped here")));
  QVERIFY(box.at(2).contains(QLatin1String("2 stray bytes dropped")));
  QCOMPARE(box.at(3), QStringLiteral("after room."));
  QVERIFY(!backlog.hasWaiting());

  backlog.pushStray("\x09");
  const auto atClose = backlog.lineClosed();
  QVERIFY(atClose && atClose->strayBytes == 1);
  QVERIFY(!backlog.lineClosed());
  backlog.push("ABCDEFGHIJKL");
  QCOMPARE(nextBox(16), QStringList{"BCDEFGHIJKL"});

  for (int run = 0; run < 10; ++run)
    backlog.pushStray("0123456789");
  backlog.push("ABCDEFGHIJKL");
  box = nextBox(16);
  QVERIFY(box.at(0).contains(QLatin1String("100 stray bytes")));
  QVERIFY2(box.at(0).endsWith(QStringLiteral("35 36 37 38 39 30 31 …")), qPrintable(box.at(0)));
}

// Stray bytes that no reply follows are released to a line of their own; those still waiting
// when the line closes are handed over to be named where the closing is told.
void TestReplyText::strayBytesNoReplyFollowed() {
  ReplyBacklog backlog;
  QVERIFY(!backlog.releaseStray());
  backlog.pushStray("\x02\x03");
  backlog.pushStray("\x04");
  QVERIFY(!backlog.hasWaiting());
  QVERIFY(backlog.releaseStray());
  QVERIFY(backlog.hasWaiting());
  QCOMPARE(backlog.linesThroughLastCounted(), 1);
  backlog.pushStray("\x05");
  backlog.push("#reply......");
  QCOMPARE(backlog.linesThroughLastCounted(), 2);
  QList<LineEvent> events = backlog.take(16);
  QCOMPARE(boxText(events, backlog.repliesWaiting()).split(QLatin1Char('\n')),
           QStringList({QStringLiteral("已忽略 3 个杂散字节，其后没有回复。3 stray bytes ignored, "
                                       "no reply followed: 02 03 04"),
                        QStringLiteral("已忽略此回复前的 1 个杂散字节。1 stray byte ignored "
                                       "before this reply: 05"),
                        QStringLiteral("reply......")}));

  backlog.pushStray("\x06\x07");
  const auto atClose = backlog.lineClosed();
  QVERIFY(atClose);
  QVERIFY(!backlog.hasWaiting() && backlog.take(16).isEmpty());
  QCOMPARE(strayAtCloseText(*atClose),
           QStringLiteral("串口关闭时还有 2 个杂散字节，其后没有回复，已忽略：06 07\n"
                          "2 stray bytes with no reply after them were ignored when the port "
                          "closed: 06 07"));
}

// A full backlog drops what comes on top; the notice says what that was. Only stray bytes
// dropped while replies waited are no "0 replies dropped".
void TestReplyText::dropNoticeSaysWhatWasDropped() {
  ReplyBacklog backlog(1);
  backlog.push("#waiting....");
  backlog.pushStray("\x01\x02\x03");
  QList<LineEvent> events = backlog.take(16);
  QCOMPARE(events.size(), 2);
  QString text = boxText(events, 0);
  QVERIFY2(!text.contains(QLatin1String("0 replies")), qPrintable(text));
  QCOMPARE(text.section(QLatin1Char('\n'), 1),
           QStringLiteral("此处有 3 个杂散字节被丢弃：等待的回复过多。3 stray bytes dropped here: "
                          "too many replies were waiting."));

  backlog.push("#waiting....");
  backlog.push("#dropped....");
  backlog.pushStray("\x01");
  text = boxText(backlog.take(16), 0);
  QCOMPARE(text.section(QLatin1Char('\n'), 1),
           QStringLiteral("此处有 1 条回复因等待过多被丢弃。1 reply dropped here: too many were "
                          "waiting. 另丢弃 1 个杂散字节。1 stray byte dropped with them."));

  // Lone stray runs count toward the bound as replies do: a device that sends a short status
  // now and then cannot pile up boxes behind one left open.
  backlog.pushStray("\x01\x02");
  QVERIFY(backlog.releaseStray());
  backlog.pushStray("\x03");
  backlog.push("#dropped....");
  QCOMPARE(backlog.linesThroughLastCounted(), 1);
  events = backlog.take(1);
  text = boxText(events, 0, 1, backlog.strayLinesWaiting());
  QVERIFY2(text.endsWith(QLatin1String("no reply followed: 01 02")), qPrintable(text));
  QCOMPARE(boxText(backlog.take(16), 0).section(QLatin1Char('\n'), 0),
           QStringLiteral("此处有 1 条回复因等待过多被丢弃。1 reply dropped here: too many were "
                          "waiting. 另丢弃 1 个杂散字节。1 stray byte dropped with them."));
}

void TestReplyText::moreRepliesNameTheBoxesTheyFill() {
  QCOMPARE(boxText({}, 48, 3),
           QStringLiteral("… 还有 48 条回复，见后面 3 个框。48 more replies follow in the next 3 "
                          "boxes."));
  QCOMPARE(boxText({}, 5, 1),
           QStringLiteral("… 还有 5 条回复，见下一个框。5 more replies follow in the next box."));
  QCOMPARE(boxText({}, 1, 2, 3),
           QStringLiteral("… 还有 1 条回复和 3 行杂散字节，见后面 2 个框。1 more reply and 3 lines "
                          "of stray bytes follow in the next 2 boxes."));
  QCOMPARE(boxText({}, 0, 1, 1),
           QStringLiteral("… 还有 1 行杂散字节，见下一个框。1 more line of stray bytes follows in "
                          "the next box."));
}

// Closed by the operator from a box: what still waited is counted, never "0 replies".
void TestReplyText::closingCountsWhatWaited() {
  QCOMPARE(closedWithWaitingText(0, 0), QStringLiteral("串口已关闭。The port is closed."));
  QCOMPARE(
      closedWithWaitingText(1, 1),
      QStringLiteral("串口已关闭。The port is closed.\n未显示的回复：1 条。1 reply not shown.\n"
                     "未显示的杂散字节：1 个。1 stray byte not shown."));
  QCOMPARE(closedWithWaitingText(48, 0),
           QStringLiteral("串口已关闭。The port is closed.\n未显示的回复：48 条。48 replies not "
                          "shown."));
  QCOMPARE(hexBytes(QByteArray("\x02\xff\x00"
                               "a",
                               4)),
           QStringLiteral("02 FF 00 61"));
}

QTEST_GUILESS_MAIN(TestReplyText)
#include "tst_replytext.moc"
