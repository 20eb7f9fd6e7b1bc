#include "device/codepage.h"
#include "device/failure.h"
#include "device/frames.h"
#include "support/failures.h"

#include <QScopeGuard>
#include <QtTest>
#include <functional>
#include <optional>

// This program's own definition takes the place of the library's, so that a test can stand for
// a system without a GBK converter (a Qt without ICU).
static bool converterMissing = false;

bool codePage936Available() { return !converterMissing && systemHasCodePage936(); }

class TestFrames : public QObject {
  Q_OBJECT

private slots:
  void userCodeFrames_data();
  void userCodeFrames();
  void refusedUserCodes_data();
  void refusedUserCodes();
  void fixedFrames();
  void codePage936Pairs();
  void missingConverter();
};

void TestFrames::userCodeFrames_data() {
  QTest::addColumn<QString>("code");
  QTest::addColumn<QByteArray>("frame");
  const auto row = [](const char *name, const QString &code, const char *hex) {
    QTest::newRow(name) << code << QByteArray::fromHex(hex);
  };
  row("digits", "1234", "2A 40 2D 31 32 33 34 0D");
  row("empty", "", "2A 40 2D 0D");
  row("chinese in GBK", "中文", "2A 40 2D D6 D0 CE C4 0D");
  row("euro as single byte", "€", "2A 40 2D 80 0D");
  row("blanks kept", " a b ", "2A 40 2D 20 61 20 62 20 0D");
  row("printable edges and a real question mark", "~?", "2A 40 2D 7E 3F 0D");
  row("mixed", "A中1", "2A 40 2D 41 D6 D0 31 0D");
}

void TestFrames::userCodeFrames() {
  QFETCH(QString, code);
  QFETCH(QByteArray, frame);
  QCOMPARE(userCodeFrame(code), frame);
}

void TestFrames::refusedUserCodes_data() {
  QTest::addColumn<QString>("code");
  QTest::addColumn<QStringList>("named");
  const auto row = [](const char *name, const QString &code, const QStringList &named) {
    QTest::newRow(name) << code << named;
  };
  // Named as a person knows it, with its code point.
  row("pasted CR starting another command", "12\r@Power on lock enable",
      {"a carriage return (U+000D)", "回车符 (U+000D)"});
  row("line feed", "\n", {"a line break (U+000A)", "换行符 (U+000A)"});
  row("tab", "\t", {"a tab (U+0009)", "制表符 (U+0009)"});
  row("zero", QString(QChar(0)) + "1", {"a null character (U+0000)"});
  row("unit separator", "ab\x1f", {"a control character (U+001F)"});
  row("delete", "\x7f", {"a delete character (U+007F)"});
  row("control after chinese", "中文\r", {"U+000D"});
  row("emoji", "a😀b", {"😀", "U+1F600"});
  row("latin y with diaeresis", "ÿ", {"ÿ", "U+00FF"});
  row("lone high surrogate", QString(QChar(0xD83D)) + "1", {"U+D83D"});
  row("lone low surrogate", "1" + QString(QChar(0xDE00)), {"U+DE00"});
  row("33 characters", QString(33, QLatin1Char('1')), {"at most 32 characters"});
}

void TestFrames::refusedUserCodes() {
  QFETCH(QString, code);
  QFETCH(QStringList, named);
  const auto failure = failureOf([&] { userCodeFrame(code); });
  QVERIFY(failure);
  QCOMPARE(failure->number(), 5);
  for (const QString &name : named)
    QVERIFY2(failure->description().contains(name), qPrintable(failure->description()));
}

void TestFrames::fixedFrames() {
  QCOMPARE(powerOnLockFrame(), QByteArray("@Power on lock enable\r"));
  QCOMPARE(powerOnLockFrame().size(), 22);
  QCOMPARE(initialPasswordFrame(), QByteArray("*2-IniP\r"));
  QCOMPARE(initialPasswordFrame().size(), 8);
}

void TestFrames::codePage936Pairs() {
  QCOMPARE(charFromCodePage936Pair('\xD6', '\xD0'), std::optional<QString>(QStringLiteral("中")));
  QCOMPARE(charFromCodePage936Pair('\xD6', ' '), std::nullopt);
  QCOMPARE(charFromCodePage936Pair('\xFF', '\xA1'), std::nullopt);
  QCOMPARE(firstCharOutsideCodePage936(u"A中€?"), QString());
  QCOMPARE(firstCharOutsideCodePage936(u"中😀ÿ"), QStringLiteral("😀"));
  QCOMPARE(toCodePage936(u"ÿ"), std::nullopt);
}

// A Qt without ICU has no GBK converter on Linux: the user-code button once crashed on an
// all-ASCII or empty code there. Every code is now refused with a reason, and replies keep
// their raw bytes.
void TestFrames::missingConverter() {
  QVERIFY(codePage936Available());
  converterMissing = true;
  const auto present = qScopeGuard([] { converterMissing = false; });
  QVERIFY(!codePage936Available());
  for (const QString &code : {QString(), QStringLiteral("1234"), QStringLiteral("中文")}) {
    const auto failure = failureOf([&] { userCodeFrame(code); });
    QVERIFY2(failure, qPrintable(code));
    QCOMPARE(failure->number(), 5);
    QVERIFY2(failure->description().contains("no converter for GBK"),
             qPrintable(failure->description()));
  }
  QCOMPARE(charFromCodePage936Pair('\xD6', '\xD0'), std::nullopt);
  QCOMPARE(firstCharOutsideCodePage936(u"A中"), QStringLiteral("中"));
  QCOMPARE(addressFrame("42"), QByteArray("ID42\r"));
}

QTEST_GUILESS_MAIN(TestFrames)
#include "tst_frames.moc"
