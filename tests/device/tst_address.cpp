#include "device/address.h"
#include "device/failure.h"
#include "device/frames.h"
#include "support/failures.h"

#include <QtTest>
#include <functional>
#include <optional>

class TestAddress : public QObject {
  Q_OBJECT

private slots:
  void acceptedAddressesAndTheirFrames_data();
  void acceptedAddressesAndTheirFrames();
  void addressesAboveTwoDigitsHaveNoFrame_data();
  void addressesAboveTwoDigitsHaveNoFrame();
  void refusedAddresses_data();
  void refusedAddresses();
};

void TestAddress::acceptedAddressesAndTheirFrames_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("address");
  QTest::addColumn<QByteArray>("frame");
  const auto row = [](const char *name, const QString &text, int address, const char *hex) {
    QTest::newRow(name) << text << address << QByteArray::fromHex(hex);
  };
  row("zero", "0", 0, "49 44 30 30 0D");
  row("one digit", "7", 7, "49 44 30 37 0D");
  row("two digits", "42", 42, "49 44 34 32 0D");
  row("largest", "99", 99, "49 44 39 39 0D");
  row("leading zeros", "007", 7, "49 44 30 37 0D");
  row("leading blank", " 5", 5, "49 44 30 35 0D");
  row("tabs and blanks around", "\t 8 \t", 8, "49 44 30 38 0D");
  row("plus sign", "+3", 3, "49 44 30 33 0D");
  row("bare fraction half", ".5", 0, "49 44 30 30 0D");
  row("half rounds up to even", "1.5", 2, "49 44 30 32 0D");
  row("half rounds down to even", "2.5", 2, "49 44 30 32 0D");
  row("negative half is zero", "-0.5", 0, "49 44 30 30 0D");
  row("minus zero", "-0", 0, "49 44 30 30 0D");
  row("just above half", "0.51", 1, "49 44 30 31 0D");
  row("half with trailing zeros", "3.500", 4, "49 44 30 34 0D");
  row("just below half", "98.49999", 98, "49 44 39 38 0D");
  row("trailing point", "12.", 12, "49 44 31 32 0D");
  row("full-width digits", "４２", 42, "49 44 34 32 0D");
  row("full-width blanks, sign and point", "\u3000＋２．５\u3000", 2, "49 44 30 32 0D");
}

void TestAddress::acceptedAddressesAndTheirFrames() {
  QFETCH(QString, text);
  QFETCH(int, address);
  QFETCH(QByteArray, frame);
  QCOMPARE(int(addressFromText(text)), address);
  QCOMPARE(addressFrame(text), frame);
}

void TestAddress::addressesAboveTwoDigitsHaveNoFrame_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("address");
  QTest::newRow("100") << "100" << 100;
  QTest::newRow("99.5 rounds to 100") << "99.5" << 100;
  QTest::newRow("255") << "255" << 255;
  QTest::newRow("254.5 rounds to even") << "254.5" << 254;
}

void TestAddress::addressesAboveTwoDigitsHaveNoFrame() {
  QFETCH(QString, text);
  QFETCH(int, address);
  QCOMPARE(int(addressFromText(text)), address);
  const auto failure = failureOf([&] { addressFrame(text); });
  QVERIFY(failure);
  QCOMPARE(failure->number(), 6);
  QVERIFY(failure->description().contains(text));
  QVERIFY(failure->description().contains(QLatin1String("from 0 to 99")));
}

void TestAddress::refusedAddresses_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("number");
  for (const char *text : {"", " ", "\t", "ab", ".", "-", "+", "1e", "1e2", "0x10", "1 2", "1,5",
                           "--1", "５ａ", "5\n"})
    QTest::newRow(qPrintable(QStringLiteral("type mismatch “%1”").arg(text)))
        << QString::fromUtf8(text) << 13;
  for (const char *text : {"-1", "-0.51", "256", "255.5", "1000", "0001000", "4294967296"})
    QTest::newRow(qPrintable(QStringLiteral("overflow “%1”").arg(text)))
        << QString::fromUtf8(text) << 6;
}

void TestAddress::refusedAddresses() {
  QFETCH(QString, text);
  QFETCH(int, number);
  const auto fromText = failureOf([&] { addressFromText(text); });
  QVERIFY(fromText);
  QCOMPARE(fromText->number(), number);
  QVERIFY(fromText->description().contains(text));
  const auto frame = failureOf([&] { addressFrame(text); });
  QVERIFY(frame);
  QCOMPARE(frame->number(), number);
  QVERIFY(frame->description().contains(QLatin1String("from 0 to 99")));
}

QTEST_GUILESS_MAIN(TestAddress)
#include "tst_address.moc"
