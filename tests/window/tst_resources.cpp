#include "serial/serialport.h"
#include "support/boxes.h"
#include "support/process.h"
#include "support/pty.h"
#include "window/form1.h"

#include <QPushButton>
#include <QtTest>

class TestResources : public QObject {
  Q_OBJECT

private slots:
  void losingAndReopeningLeaksNoDescriptors();
  void quietOpenPortLeavesTheCpuIdle();

private:
  static void open(Form1 &form, const PseudoTerminal &device) {
    form.MSComm1().setDeviceResolver([path = device.path()](int) { return path; });
    form.findChild<QPushButton *>("Command6")->click();
  }
};

void TestResources::losingAndReopeningLeaksNoDescriptors() {
  Form1 form;
  form.show();
  BoxOperator boxes;
  constexpr int cycles = 100;
  int descriptorsAfterFirst = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == 1)
      descriptorsAfterFirst = openFileDescriptors();
    PseudoTerminal device;
    open(form, device);
    QVERIFY2(form.MSComm1().PortOpen(), qPrintable(QStringLiteral("cycle %1").arg(cycle)));
    device.write("ABCDEFGHIJKL");
    QTRY_COMPARE(boxes.texts.size(), 2 * cycle + 1);
    device.closeDevice();
    QTRY_COMPARE(boxes.texts.size(), 2 * cycle + 2);
    QVERIFY(!form.MSComm1().PortOpen());
  }
  QCOMPARE(openFileDescriptors(), descriptorsAfterFirst);
  QCOMPARE(boxes.texts.at(0), QStringLiteral("BCDEFGHIJKL"));
  QVERIFY(boxes.texts.at(1).contains(QLatin1String("57")));
}

void TestResources::quietOpenPortLeavesTheCpuIdle() {
  Form1 form;
  form.show();
  PseudoTerminal device;
  open(form, device);
  QVERIFY(form.MSComm1().PortOpen());
  const qint64 before = cpuMs();
  QTest::qWait(1000);
  QVERIFY2(cpuMs() - before < 100, qPrintable(QStringLiteral("%1 ms").arg(cpuMs() - before)));
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
