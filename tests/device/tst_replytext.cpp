#include "device/backlog.h"
#include "device/replytext.h"

#include <QtTest>

class TestReplyText : public QObject {
  Q_OBJECT

private slots:
  void shownText_data();
  void shownText();
  void backlogKeepsOrderAndReportsDrops();
  void backlogDefaultCapacity();
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
      "\\xFFAB");
  row("lead byte with invalid trail", "x\xD6 1", "\\xD6 1");
  row("GBK pair", "x\xD6\xD0\xCE\xC4!", "中文!");
  row("user-defined GBK pair", "x\xAA\xA1", "\\xAA\\xA1");
  row("lead at byte 11, trail at byte 12", "xABCDEFGHIJ\xD6\xD0", "ABCDEFGHIJ\\xD6");
  row("lead as last byte of short block", "xA\xD6", "A\\xD6");
  row("short block", "xAB", "AB");
  row("one byte", "x", "");
  row("empty", "", "");
}

void TestReplyText::shownText() {
  QFETCH(QByteArray, block);
  QFETCH(QString, text);
  QCOMPARE(replyText(block), text);
}

void TestReplyText::backlogKeepsOrderAndReportsDrops() {
  ReplyBacklog backlog(2);
  QVERIFY(backlog.isEmpty());
  QVERIFY(backlog.push("A"));
  QVERIFY(backlog.push("B"));
  QVERIFY(!backlog.push("C"));
  QVERIFY(!backlog.push("D"));
  QCOMPARE(backlog.size(), 2);

  auto waiting = backlog.take();
  QVERIFY(waiting);
  QCOMPARE(waiting->reply, QByteArray("A"));
  QCOMPARE(waiting->droppedMeanwhile, 2);

  QVERIFY(backlog.push("E"));
  QVERIFY(!backlog.push("F"));
  waiting = backlog.take();
  QCOMPARE(waiting->reply, QByteArray("B"));
  QCOMPARE(waiting->droppedMeanwhile, 1);
  waiting = backlog.take();
  QCOMPARE(waiting->reply, QByteArray("E"));
  QCOMPARE(waiting->droppedMeanwhile, 0);
  QVERIFY(!backlog.take());
  QVERIFY(backlog.isEmpty());
}

void TestReplyText::backlogDefaultCapacity() {
  ReplyBacklog backlog;
  for (qsizetype i = 0; i < ReplyBacklog::defaultCapacity; ++i)
    QVERIFY(backlog.push(QByteArray::number(i)));
  QVERIFY(!backlog.push("one too many"));
  QCOMPARE(backlog.size(), ReplyBacklog::defaultCapacity);
  QCOMPARE(backlog.take()->reply, QByteArray("0"));
}

QTEST_GUILESS_MAIN(TestReplyText)
#include "tst_replytext.moc"
