#include "cli/csv.h"
#include "cli/plan.h"

#include <QtTest>

// The plan as read, and the record's CSV lines as written and read back: without a process or a
// device, so that each rule is seen on its own.
class TestPlan : public QObject {
  Q_OBJECT

private slots:
  void planRowsAndFrames_data();
  void planRowsAndFrames();
  void recordFieldsSurviveCsv_data();
  void recordFieldsSurviveCsv();
};

void TestPlan::planRowsAndFrames_data() {
  QTest::addColumn<QByteArray>("plan");
  // Each row as "line address: frame | frame".
  QTest::addColumn<QStringList>("rows");
  QTest::newRow("quoted code with a comma and a quote")
      << QByteArray("Address , USER_CODE\r\n\" 7\",\"a,\"\"b\"\r\n")
      << QStringList{"2 07: ID07\r | *@-a,\"b\r"};
  QTest::newRow("code kept as typed, blanks included")
      << QByteArray("user_code,address\n  x ,3\n") << QStringList{"2 03: ID03\r | *@-  x \r"};
  QTest::newRow("switches in any case, empty cells")
      << QByteArray("address,power_on_password,reset_password,user_code\n1,YES,,\n2,no,Yes,\n")
      << QStringList{"2 01: ID01\r | @Power on lock enable\r", "3 02: ID02\r | *2-IniP\r"};
  QTest::newRow("a row shorter than the header")
      << QByteArray("address,user_code\n4\n") << QStringList{"2 04: ID04\r"};
}

void TestPlan::planRowsAndFrames() {
  QFETCH(QByteArray, plan);
  QFETCH(QStringList, rows);
  const Plan read = planFromBytes(plan, false);
  QCOMPARE(read.problems, QStringList());
  QStringList seen;
  for (const PlanRow &row : read.rows) {
    QStringList frames;
    for (const PlanCommand &command : row.commands)
      frames.append(QString::fromLatin1(command.frame));
    seen.append(QStringLiteral("%1 %2: %3").arg(row.line).arg(row.address, frames.join(" | ")));
  }
  QCOMPARE(seen, rows);
}

void TestPlan::recordFieldsSurviveCsv_data() {
  QTest::addColumn<QStringList>("fields");
  QTest::newRow("settings with commas") << QStringList{"2400,n,8,1", "address", ""};
  QTest::newRow("reply text with quotes") << QStringList{"\"OK\"", "a\"\"b", "\""};
  QTest::newRow("empty fields") << QStringList{"", "", ""};
}

void TestPlan::recordFieldsSurviveCsv() {
  QFETCH(QStringList, fields);
  QCOMPARE(csvFields(csvLine(fields)), std::optional(fields));
}

QTEST_GUILESS_MAIN(TestPlan)
#include "tst_plan.moc"
