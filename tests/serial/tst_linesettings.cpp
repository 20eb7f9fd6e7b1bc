#include "serial/devicemap.h"
#include "serial/linesettings.h"
#include "serial/openfailure.h"
#include "serial/openport.h"

#include <QtTest>

class TestLineSettings : public QObject {
  Q_OBJECT

private slots:
  void parsesWellFormedSettings_data();
  void parsesWellFormedSettings();
  void refusesMalformedSettings_data();
  void refusesMalformedSettings();
  void tableAndNamesMatchTheEntries();
  void comNumbersFollowTheDeviceFamilies();
  void openFailuresTellTheOperatorWhatToDo_data();
  void openFailuresTellTheOperatorWhatToDo();
};

void TestLineSettings::parsesWellFormedSettings_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("rate");
  QTest::addColumn<char>("parity");
  QTest::addColumn<int>("dataBits");
  QTest::addColumn<int>("stopBits");
  // Silence after which an unfinished block is stray: 100 ms, or 20 characters where slower.
  QTest::addColumn<int>("strayGapMs");
  QTest::newRow("none") << "9600,n,8,1" << 9600 << 'n' << 8 << int(StopBits::One) << 100;
  QTest::newRow("upper odd") << "2400,O,8,1" << 2400 << 'o' << 8 << int(StopBits::One) << 100;
  QTest::newRow("slowest listed") << "1200,E,8,1" << 1200 << 'e' << 8 << int(StopBits::One) << 184;
  QTest::newRow("mark") << "110,M,7,2" << 110 << 'm' << 7 << int(StopBits::Two) << 2000;
  QTest::newRow("space") << "4000000,s,5,1.5" << 4000000 << 's' << 5 << int(StopBits::OneAndHalf)
                         << 100;
}

void TestLineSettings::parsesWellFormedSettings() {
  QFETCH(QString, text);
  const auto settings = parseLineSettings(text);
  QVERIFY(settings);
  QTEST(int(settings->rate), "rate");
  QTEST(settings->parity, "parity");
  QTEST(settings->dataBits, "dataBits");
  QTEST(strayGapMs(*settings), "strayGapMs");
  QTEST(int(settings->stopBits), "stopBits");
}

void TestLineSettings::refusesMalformedSettings_data() {
  QTest::addColumn<QString>("text");
  for (const char *text :
       {"", "9600", "9600,n,8", "9600,n,8,1,", "9600,x,8,1", "9600,n,9,1", "9600,n,4,1",
        "9600,n,8,3", "9600,n,8,1.0", "0,n,8,1", "09600,n,8,1", "-9600,n,8,1", "4000001,n,8,1",
        " 9600,n,8,1", "9600, n,8,1", "9600,,8,1", "9600;n;8;1", "9600,n,8,1\n"})
    QTest::newRow(text) << QString::fromLatin1(text);
}

void TestLineSettings::refusesMalformedSettings() {
  QFETCH(QString, text);
  QVERIFY(!parseLineSettings(text));
}

void TestLineSettings::tableAndNamesMatchTheEntries() {
  // Every listed rate with every listed parity: 8 data bits, 1 stop bit, and the parity letter
  // as the settings strings write it ("n", "O", "E").
  const std::pair<const char *, const char *> parities[]{
      {"None", "n"}, {"Odd", "O"}, {"Even", "E"}};
  for (const char *rate : {"1200", "2400", "4800", "9600"})
    for (const auto &[parity, letter] : parities)
      QCOMPARE(settingsFromTable(rate, parity),
               QStringLiteral("%1,%2,8,1").arg(QLatin1String(rate), QLatin1String(letter)));
  // A text that differs from an entry only in case or in blanks around it names the entry.
  QCOMPARE(settingsFromTable(" 9600\t", "none"), QStringLiteral("9600,n,8,1"));
  QCOMPARE(settingsFromTable("4800", " ODD "), QStringLiteral("4800,O,8,1"));
  QCOMPARE(rateEntry("2400 "), QStringLiteral("2400"));
  QCOMPARE(parityEntry("eVEN"), QStringLiteral("Even"));
  for (const auto &[rate, parity] : {std::pair("96 00", "None"),
                                     {"19200", "None"},
                                     {"", ""},
                                     {"9600", "No ne"},
                                     {"09600", "None"},
                                     {"4800", "O"}})
    QVERIFY2(!settingsFromTable(rate, parity),
             qPrintable(QStringLiteral("%1/%2").arg(rate, parity)));

  QCOMPARE(comNumberFromName("COM1"), 1);
  QCOMPARE(comNumberFromName("COM15"), 15);
  QCOMPARE(comNumberFromName("com3"), 3);
  QCOMPARE(comNumberFromName(" COM3 "), 3);
  QCOMPARE(comNumberFromName("Com12\u3000"), 12);
  for (const char *name : {"COM16", "COM0", "COM03", "COM", "COM 3", "COM3x", "3"})
    QVERIFY2(!comNumberFromName(name), name);
}

void TestLineSettings::comNumbersFollowTheDeviceFamilies() {
  const QStringList found{"/dev/ttyACM0", "/dev/ttyUSB10", "/dev/rfcomm0", "/dev/ttyS10",
                          "/dev/ttyUSB2", "/dev/ttyS1",    "/dev/ttyAMA0"};
  QCOMPARE(inComOrder(found),
           QStringList({"/dev/ttyS1", "/dev/ttyS10", "/dev/ttyUSB2", "/dev/ttyUSB10",
                        "/dev/ttyACM0", "/dev/rfcomm0", "/dev/ttyAMA0"}));
}

void TestLineSettings::openFailuresTellTheOperatorWhatToDo_data() {
  QTest::addColumn<int>("error");
  QTest::addColumn<bool>("accessible");
  QTest::addColumn<int>("number");
  QTest::addColumn<QString>("hint");
  QTest::newRow("no device") << int(QSerialPort::DeviceNotFoundError) << true << 8002
                             << "COM2 → /dev/ttyUSB0：找不到该设备 no such device";
  QTest::newRow("busy") << int(QSerialPort::OpenError) << true << 8005 << "held by another program";
  QTest::newRow("locked by another")
      << int(QSerialPort::PermissionError) << true << 8005 << "another program";
  QTest::newRow("device gone") << int(QSerialPort::ResourceError) << true << 8002 << "disconnected";
  QTest::newRow("no permission") << int(QSerialPort::PermissionError) << false << 70 << "dialout";
  QTest::newRow("settings refused")
      << int(QSerialPort::UnsupportedOperationError) << true << 8015 << "Inappropriate ioctl";
}

void TestLineSettings::openFailuresTellTheOperatorWhatToDo() {
  QFETCH(int, error);
  QFETCH(bool, accessible);
  QFETCH(QString, hint);
  const Failure failure =
      openFailure(QSerialPort::SerialPortError(error), QStringLiteral("COM2"),
                  QStringLiteral("/dev/ttyUSB0"), accessible, "Inappropriate ioctl for device");
  QTEST(failure.number(), "number");
  QVERIFY2(failure.description().contains(hint), qPrintable(failure.description()));
}

QTEST_MAIN(TestLineSettings)
#include "tst_linesettings.moc"
