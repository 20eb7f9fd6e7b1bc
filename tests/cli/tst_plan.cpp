#include "cli/plan.h"
#include "cli/record.h"

#include <QStringEncoder>
#include <QtTest>

// The plan as read, and an earlier run's record matched to it: without a process or a device, so
// that each rule is seen on its own.
class TestPlan : public QObject {
  Q_OBJECT

private slots:
  void planRowsAndFrames_data();
  void planRowsAndFrames();
  void planRefusals_data();
  void planRefusals();
  void recordMatchedToThePlan_data();
  void recordMatchedToThePlan();
};

namespace {

QByteArray utf16(const QString &text, QStringConverter::Encoding encoding) {
  QStringEncoder encoder(encoding, QStringEncoder::Flag::WriteBom);
  return encoder.encode(text);
}

// "address,user_code" and one row, the code's bytes as given: C2 B7 is "·" in UTF-8 and "路" in
// GBK.
const QByteArray twoWayPlan("address,user_code\n1,\xC2\xB7\n");

} // namespace

void TestPlan::planRowsAndFrames_data() {
  QTest::addColumn<QByteArray>("plan");
  QTest::addColumn<PlanEncoding>("encoding");
  // Each row as "line address: frame | frame".
  QTest::addColumn<QByteArrayList>("rows");
  const auto detect = PlanEncoding::Detect;
  QTest::newRow("quoted code with a comma and a quote")
      << QByteArray("Address , USER_CODE\r\n\" 7\",\"a,\"\"b\"\r\n") << detect
      << QByteArrayList{"2 07: ID07\r | *@-a,\"b\r"};
  QTest::newRow("blanks around a cell are not part of it, quoted ones are")
      << QByteArray("user_code, address\n  x ,3\n\" y \",\t4\t\n") << detect
      << QByteArrayList{"2 03: ID03\r | *@-x\r", "3 04: ID04\r | *@- y \r"};
  QTest::newRow("switches in any case, empty cells")
      << QByteArray("address,power_on_password,reset_password,user_code\n1,YES,,\n2,no,Yes,\n")
      << detect
      << QByteArrayList{"2 01: ID01\r | @Power on lock enable\r", "3 02: ID02\r | *2-IniP\r"};
  QTest::newRow("a row shorter than the header")
      << QByteArray("address,user_code\n4\n") << detect << QByteArrayList{"2 04: ID04\r"};
  QTest::newRow("GBK only") << QByteArray("address,user_code\n1,\xB2\xCA\xC6\xC1\n") << detect
                            << QByteArrayList{"2 01: ID01\r | *@-\xB2\xCA\xC6\xC1\r"};
  QTest::newRow("text both ways, said to be GBK")
      << twoWayPlan << PlanEncoding::Gbk << QByteArrayList{"2 01: ID01\r | *@-\xC2\xB7\r"};
  QTest::newRow("text both ways, said to be UTF-8")
      << twoWayPlan << PlanEncoding::Utf8 << QByteArrayList{"2 01: ID01\r | *@-\xA1\xA4\r"};
  QTest::newRow("text both ways with a UTF-8 mark")
      << QByteArray("\xEF\xBB\xBF") + twoWayPlan << detect
      << QByteArrayList{"2 01: ID01\r | *@-\xA1\xA4\r"};
  for (const auto encoding : {QStringConverter::Utf16LE, QStringConverter::Utf16BE})
    QTest::addRow("%s with its mark", QStringConverter::nameForEncoding(encoding))
        << utf16(QStringLiteral("address,user_code\r\n5,彩屏\r\n"), encoding) << detect
        << QByteArrayList{"2 05: ID05\r | *@-\xB2\xCA\xC6\xC1\r"};
}

void TestPlan::planRowsAndFrames() {
  QFETCH(QByteArray, plan);
  QFETCH(PlanEncoding, encoding);
  QFETCH(QByteArrayList, rows);
  const Plan read = planFromBytes(plan, false, encoding);
  QCOMPARE(read.problems, QStringList());
  QByteArrayList seen;
  for (const PlanRow &row : read.rows) {
    QByteArrayList frames;
    for (const PlanCommand &command : row.commands)
      frames.append(command.frame);
    seen.append(QByteArray::number(row.line) + ' ' + row.address.toLatin1() + ": " +
                frames.join(" | "));
  }
  QCOMPARE(seen, rows);
}

void TestPlan::planRefusals_data() {
  QTest::addColumn<QByteArray>("plan");
  QTest::addColumn<PlanEncoding>("encoding");
  // What the refusal says, each problem on a line of its own.
  QTest::addColumn<QStringList>("problems");
  const auto detect = PlanEncoding::Detect;
  QTest::newRow("text both ways, differently")
      << QByteArray("# 2026\naddress,user_code\n1,A\xC2\xB7\n") << detect
      << QStringList{"Line 3, character 4: .*--encoding utf-8 or --encoding gbk.*\n"
                     "  UTF-8: 1,A·\n  GBK:   1,A路"};
  QTest::newRow("not the text it is said to be")
      << QByteArray("address,user_code\n1,x\n2,\xB2\xCA\n") << PlanEncoding::Utf8
      << QStringList{"Line 3: .*not UTF-8"};
  QTest::newRow("a UTF-16 mark, said to be GBK")
      << utf16("address\n1\n", QStringConverter::Utf16LE) << PlanEncoding::Gbk
      << QStringList{"mark of UTF-16LE, not of --encoding GBK"};
  QTest::newRow("a UTF-16 mark on an odd byte count")
      << utf16("address\n1\n", QStringConverter::Utf16LE) + 'x' << detect
      << QStringList{"not UTF-16LE throughout"};
  for (const char *address : {"4.5", "-1", "+5", "\xEF\xBC\x94\xEF\xBC\x8E\xEF\xBC\x95"})
    QTest::addRow("address %s", address)
        << QByteArray("address\n") + address + "\n"
        << detect << QStringList{"Line 2, column address: .*without a sign or a fraction"};
  QByteArray fortyRows("adress,user_code,power_on\n");
  for (int row = 1; row <= 40; ++row)
    fortyRows += QByteArray::number(row) + ",x,yes\n";
  QTest::newRow("a bad header is one problem")
      << fortyRows << detect
      << QStringList{"Line 1: .*unknown columns “adress”, “power_on”; the columns are"};
  QTest::newRow("a quote inside an unquoted cell")
      << QByteArray("address,user_code\n1,ab\"c\n2,x\"\n") << detect
      << QStringList{"Line 2, character 5: ", "Line 3, character 4: "};
}

void TestPlan::planRefusals() {
  QFETCH(QByteArray, plan);
  QFETCH(PlanEncoding, encoding);
  QFETCH(QStringList, problems);
  const Plan read = planFromBytes(plan, false, encoding);
  QCOMPARE(read.rows.size(), 0);
  QCOMPARE(read.problems.size(), problems.size());
  for (qsizetype i = 0; i < problems.size(); ++i) {
    const QRegularExpression expected(problems[i], QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(expected.match(read.problems[i]).hasMatch(), qPrintable(read.problems[i]));
  }
}

void TestPlan::recordMatchedToThePlan_data() {
  QTest::addColumn<QByteArray>("plan");
  QTest::addColumn<QByteArray>("record");
  QTest::addColumn<bool>("json");
  // The commands the record shows answered, as "line command" of this plan; or what the problem
  // says, in parts.
  QTest::addColumn<QStringList>("answered");
  QTest::addColumn<QStringList>("problem");
  const QByteArray plan("address,user_code\n1,=A\n2,\n");
  const QByteArray header("time,line,address,port,settings,command,frame_hex,reply_hex,"
                          "reply_text,outcome,detail");
  // As records were written before: no byte-order mark, LF line ends, times in UTC.
  const QByteArray older = header + "\n2026-01-05T08:00:00.000Z,2,01,COM1,\"2400,n,8,1\",address,"
                                    "49 44 30 31 0D,,,sent,\n"
                                    "2026-01-05T08:00:00.100Z,2,01,COM1,\"2400,n,8,1\",address,"
                                    "49 44 30 31 0D,02,=1+2,answered,\n";
  QTest::newRow("a record as written before")
      << plan << older << false << QStringList{"2 address"} << QStringList();
  const QByteArray current = "\xEF\xBB\xBF" + header +
                             "\r\n2026-01-05T16:00:00.000+08:00,,,,,,,,,started,qelnor-cli 2.0\r\n"
                             "2026-01-05T16:00:01.000+08:00,2,01,COM1,\"2400,n,8,1\",user-code,"
                             "2A 40 2D 3D 41 0D,02,'=1+2,answered,\r\n"
                             "2026-01-05T16:00:02.000+08:00,3,02,COM1,\"2400,n,8,1\",address,"
                             "49 44 30 32 0D,02,OK,late,\r\n";
  QTest::newRow("a record as written now; late is not answered")
      << plan << current << false << QStringList{"2 user-code"} << QStringList();
  QTest::newRow("comments added to the plan")
      << QByteArray("# site A\naddress,user_code\n\n# first\n1,=A\n2,\n") + "\n"
      << older << false << QStringList{"5 address"} << QStringList();
  QTest::newRow("a changed row")
      << QByteArray("address,user_code\n1,B\n2,\n") << current << false << QStringList()
      << QStringList{"Line 3 of the record does not belong to this plan: ",
                     "Line 2 of the plan (address 01) has changed: the record has user-code 2A 40 "
                     "2D 3D 41 0D, the plan now sends 2A 40 2D 42 0D."};
  QTest::newRow("a command taken out")
      << QByteArray("address,user_code\n1,\n2\n") << current << false << QStringList()
      << QStringList{"Line 3 of the record", "the record has user-code 2A 40 2D 3D 41 0D, which "
                                             "the plan no longer sends."};
  QTest::newRow("a row taken out")
      << QByteArray("address,user_code\n1,=A\n") << current << false << QStringList()
      << QStringList{"Line 4 of the record does not belong to this plan: ",
                     "The plan has no address 02."};
  const QByteArray jsonRecord(
      "{\"run\":\"qelnor-cli 2.0\",\"time\":\"2026-01-05T16:00:00.000+08:00\"}\n"
      "{\"address\":\"02\",\"command\":\"address\",\"detail\":\"\","
      "\"frame_hex\":\"49 44 30 32 0D\",\"line\":3,\"outcome\":\"answered\","
      "\"port\":\"COM1\",\"reply_hex\":\"02\",\"reply_text\":\"\","
      "\"settings\":\"2400,n,8,1\",\"time\":\"2026-01-05T16:00:02.000+08:00\"}\n");
  QTest::newRow("JSON lines") << plan << jsonRecord << true << QStringList{"3 address"}
                              << QStringList();
  // Rows that share an address are told apart by their line, and the same rows in the same
  // order, wherever a line was added or taken out, are not taken for one another.
  const QByteArray repeats("address\n2\n2\n");
  const QByteArray done("{\"address\":\"02\",\"command\":\"address\",\"frame_hex\":\"49 44 30 32 "
                        "0D\",\"line\":2,\"outcome\":\"answered\"}\n");
  const QByteArray secondDone = done + QByteArray(done).replace(":2,", ":3,");
  QTest::newRow("repeated address, matched by line")
      << repeats + "2\n"
      << secondDone << true << QStringList{"2 address", "3 address"} << QStringList();
  QTest::newRow("repeated address, a line added")
      << QByteArray("# added\n") + repeats << secondDone << true << QStringList()
      << QStringList{"Line 1 of the record", "share address 02 and line 2 is none of them.",
                     "put the plan's lines back"};
  QTest::newRow("repeated address, a line taken out")
      << repeats << jsonRecord << true << QStringList()
      << QStringList{"share address 02 and the record has line 3 but not line 2.",
                     "put the plan's lines back"};
}

void TestPlan::recordMatchedToThePlan() {
  QFETCH(QByteArray, plan);
  QFETCH(QByteArray, record);
  QFETCH(bool, json);
  QFETCH(QStringList, answered);
  QFETCH(QStringList, problem);
  const Plan read = planFromBytes(plan, true, PlanEncoding::Detect);
  QCOMPARE(read.problems, QStringList());
  const RecordRead resumed = recordFromBytes(record, read, json);
  QVERIFY2(resumed.problem.isEmpty() == problem.isEmpty(), qPrintable(resumed.problem));
  for (const QString &part : problem)
    QVERIFY2(resumed.problem.contains(part), qPrintable(resumed.problem));
  if (!problem.isEmpty())
    return;
  QStringList keys = resumed.answered.values();
  keys.sort();
  QCOMPARE(keys, answered);
}

QTEST_GUILESS_MAIN(TestPlan)
#include "tst_plan.moc"
