#include "support/pty.h"

#include "common/csv.h"
#include "common/record.h"

#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>

// The cells of a CSV line as read and written, and the record as a spreadsheet and --resume
// read it: without a device, so that each rule is seen on its own.
class TestRecord : public QObject {
  Q_OBJECT

private slots:
  void csvCells_data();
  void csvCells();
  void cellsStayTextAndReadBack_data();
  void cellsStayTextAndReadBack();
  void timeCarriesItsOffset_data();
  void timeCarriesItsOffset();
  void recordFileStartsEachRun_data();
  void recordFileStartsEachRun();
  void recordOnPipesAndTerminals_data();
  void recordOnPipesAndTerminals();
  void appendsOnlyToARecordOfItsForm_data();
  void appendsOnlyToARecordOfItsForm();
};

void TestRecord::csvCells_data() {
  QTest::addColumn<QString>("line");
  QTest::addColumn<QStringList>("fields");
  // 0 when the whole line is read.
  QTest::addColumn<int>("badColumn");
  QTest::newRow("blanks around unquoted cells") << " 1 ,\tA1 \t" << QStringList{"1", "A1"} << 0;
  QTest::newRow("quoted cells keep theirs")
      << "  \" A1 \" , \"a,\"\"b\"" << QStringList{" A1 ", "a,\"b"} << 0;
  QTest::newRow("blanks inside a cell") << "a b,,  " << QStringList{"a b", "", ""} << 0;
  QTest::newRow("CR of a CRLF line end") << "1,\"x\"\r" << QStringList{"1", "x"} << 0;
  QTest::newRow("what only quotes keep")
      << "\" a\",\"b\t\",\" \",\"a\rb\",\"\r\",\"\"\"OK\"\"\",\"\"\"\""
      << QStringList{" a", "b\t", " ", "a\rb", "\r", "\"OK\"", "\""} << 0;
  QTest::newRow("empty line") << "" << QStringList{""} << 0;
  QTest::newRow("quote inside an unquoted cell") << "1,a\"b" << QStringList() << 4;
  QTest::newRow("text after a closing quote") << "\"ab\" c,1" << QStringList() << 6;
  QTest::newRow("quote not closed") << "1, \"ab,c" << QStringList() << 4;
}

void TestRecord::csvCells() {
  QFETCH(QString, line);
  QFETCH(QStringList, fields);
  QFETCH(int, badColumn);
  const CsvRow row = csvRow(line);
  QCOMPARE(row.badColumn, badColumn);
  QCOMPARE(row.problem.isEmpty(), badColumn == 0);
  if (badColumn != 0)
    return;
  QCOMPARE(row.fields, fields);
  // Written, the fields read back as they were.
  QCOMPARE(csvFields(csvLine(fields)), std::optional(fields));
}

void TestRecord::cellsStayTextAndReadBack_data() {
  QTest::addColumn<QString>("cell");
  for (const char *cell :
       {"=1+2+3*99+", "+86 10", "-1", "@SUM(A1)", "\tx", "\rx", "'kept", "中文OK", "plain", ""})
    QTest::newRow(cell) << QString::fromUtf8(cell);
}

// A reply or detail that a spreadsheet would evaluate is written as text in a CSV record, and
// every cell reads back as it was, in both forms.
void TestRecord::cellsStayTextAndReadBack() {
  QFETCH(QString, cell);
  QStringList values(RecordColumn::count, cell);
  values[RecordColumn::line] = QStringLiteral("12");
  values[RecordColumn::outcome] = outcomeWord(Outcome::late);
  const QString csv = recordLineText(values, false);
  for (const QString &written : csvFields(csv).value_or(QStringList{"unread"}))
    QVERIFY2(written.isEmpty() || !QStringView(u"=+-@\t\r").contains(written.front()),
             qPrintable(csv));
  QCOMPARE(recordLineValues(csv, false), std::optional(values));
  QCOMPARE(recordLineValues(recordLineText(values, true), true), std::optional(values));
}

void TestRecord::timeCarriesItsOffset_data() {
  QTest::addColumn<int>("offsetSeconds");
  QTest::addColumn<QString>("written");
  QTest::newRow("UTC") << 0 << "2026-03-01T14:02:11.007+00:00";
  QTest::newRow("China") << 8 * 3600 << "2026-03-01T14:02:11.007+08:00";
  QTest::newRow("behind UTC, half hours") << -(3 * 3600 + 1800) << "2026-03-01T14:02:11.007-03:30";
}

void TestRecord::timeCarriesItsOffset() {
  QFETCH(int, offsetSeconds);
  QFETCH(QString, written);
  const QDateTime time(QDate(2026, 3, 1), QTime(14, 2, 11, 7), QTimeZone(offsetSeconds));
  QCOMPARE(recordTime(time), written);
}

void TestRecord::recordFileStartsEachRun_data() {
  QTest::addColumn<bool>("json");
  QTest::newRow("CSV") << false;
  QTest::newRow("JSON lines") << true;
}

// Every run begins with a line of its own, on the disk before anything is sent; a new CSV
// record begins with a byte-order mark and its header, and its lines end in CRLF.
void TestRecord::recordFileStartsEachRun() {
  QFETCH(bool, json);
  QTemporaryDir folder;
  const QString path = folder.filePath("r");
  const RecordLine answer{
      4, "07", "address", "ID07\r", "\x02ID=07 OK!!!\r", "ID=07 OK!!!", Outcome::answered, {}};
  for (int run = 0; run < 2; ++run) {
    RecordFile record(path, json);
    QCOMPARE(record.open(), QString());
    record.setLine("COM3", "9600,n,8,1");
    QCOMPARE(record.append(answer), QString());
  }
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  QCOMPARE(bytes.count("\r\n"), json ? 0 : bytes.count('\n'));
  QByteArrayList lines = bytes.split('\n');
  QCOMPARE(lines.takeLast(), QByteArray());
  if (!json)
    QCOMPARE(lines.takeFirst(), QByteArray("\xEF\xBB\xBFtime,line,address,port,settings,command,"
                                           "frame_hex,reply_hex,reply_text,outcome,detail\r"));
  QStringList said;
  for (const QByteArray &line : lines) {
    const QStringList values =
        recordLineValues(QString::fromUtf8(line), json).value_or(QStringList(RecordColumn::count));
    said.append(QStringList{values[RecordColumn::line], values[RecordColumn::port],
                            values[RecordColumn::frameHex], values[RecordColumn::replyText],
                            values[RecordColumn::outcome],
                            values[RecordColumn::detail].section(' ', 0, 0)}
                    .join(' ')
                    .trimmed());
  }
  // A run's line names the program.
  const QString started = "started " + QCoreApplication::applicationName();
  const QString answered("4 COM3 49 44 30 37 0D ID=07 OK!!! answered");
  QCOMPARE(said, QStringList({started, answered, started, answered}));
}

void TestRecord::recordOnPipesAndTerminals_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<bool>("json");
  for (const char *kind : {"pipe", "terminal", "/dev/null"}) {
    QTest::addRow("%s, CSV", kind) << kind << false;
    QTest::addRow("%s, JSON lines", kind) << kind << true;
  }
}

// A pipe or a terminal takes the record as it comes, with nothing to sync. (A record that cannot
// be written is refused by name as it opens: the command line's tests.)
void TestRecord::recordOnPipesAndTerminals() {
  QFETCH(QString, kind);
  QFETCH(bool, json);
  QTemporaryDir folder;
  PseudoTerminal terminal;
  QString path = kind == "terminal" ? terminal.path() : kind;
  QFile pipe;
  if (kind == "pipe") {
    path = folder.filePath("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QVERIFY(pipe.open(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK),
                      QIODevice::ReadOnly, QFile::AutoCloseHandle));
  }
  RecordFile record(path, json);
  QCOMPARE(record.open(), QString());
  QCOMPARE(record.append({2, "01", "address", "ID01\r", {}, {}, Outcome::sent, {}}), QString());
  const QByteArray received = kind == "pipe" ? pipe.read(4096) : terminal.read();
  if (kind != "/dev/null")
    QVERIFY2(received.contains("49 44 30 31 0D"), received.constData());
}

void TestRecord::appendsOnlyToARecordOfItsForm_data() {
  QTest::addColumn<QByteArray>("content"); // "-" for no file at all
  QTest::addColumn<bool>("json");
  QTest::addColumn<bool>("appends");
  const QByteArray header = "time,line,address,port,settings,command,frame_hex,reply_hex,"
                            "reply_text,outcome,detail\r\n";
  const QByteArray run =
      "{\"run\":\"qelnor-cli 2.0\",\"time\":\"2026-01-02T03:04:05.000+08:00\"}\n";
  QTest::newRow("no file") << QByteArray("-") << false << true;
  QTest::newRow("empty file") << QByteArray() << true << true;
  QTest::newRow("CSV record") << "\xEF\xBB\xBF" + header << false << true;
  QTest::newRow("CSV record a spreadsheet saved without its mark") << header << false << true;
  QTest::newRow("JSON record") << run << true << true;
  QTest::newRow("a plan") << QByteArray("address,user_code\r\n42,1234\r\n") << false << false;
  QTest::newRow("CSV record, JSON asked for") << "\xEF\xBB\xBF" + header << true << false;
  QTest::newRow("JSON record, CSV asked for") << run << false << false;
  QTest::newRow("a header with more after it") << header.chopped(2) + ",x\r\n" << false << false;
}

// A record is appended to only where one of its form is, never to a file it would spoil.
void TestRecord::appendsOnlyToARecordOfItsForm() {
  QFETCH(QByteArray, content);
  QFETCH(bool, json);
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("record"));
  if (content != "-") {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
  }
  QTEST(mayAppendRecord(path, json), "appends");
}

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
