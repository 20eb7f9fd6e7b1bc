// The window program started where no window can open: what it says, to whom it says it, and
// that Qt's own last words are never lost. A virtual X server (Xvfb) stands for a desktop that
// turns the program away and for one whose display Qt cannot use.
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int finishMs = 20000;

using Variables = QMap<QString, QString>;

struct Run {
  QProcess::ExitStatus exit = QProcess::CrashExit;
  int status = -1;
  QString err;
};

// The program with only the environment given (besides the locale), no platform chosen.
Run runSetup(const Variables &variables) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY"})
    environment.remove(QLatin1String(name));
  for (auto variable = variables.begin(); variable != variables.end(); ++variable)
    environment.insert(variable.key(), variable.value());
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(QELNOR_SETUP), {});
  if (!process.waitForFinished(finishMs))
    process.kill();
  process.waitForFinished();
  return {process.exitStatus(), process.exitCode(),
          QString::fromUtf8(process.readAllStandardError())};
}

// An X authority file with one cookie for any display (family FamilyWild, no number).
bool writeAuthority(const QString &path, const QByteArray &cookie) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  QDataStream out(&file); // big-endian, as the file's lengths are
  const QByteArray name("MIT-MAGIC-COOKIE-1");
  out << quint16(0xffff) << quint16(0) << quint16(0) << quint16(name.size());
  out.writeRawData(name.constData(), int(name.size()));
  out << quint16(cookie.size());
  out.writeRawData(cookie.constData(), int(cookie.size()));
  return file.flush();
}

} // namespace

class TestDisplay : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void cleanupTestCase();
  void saysWhyThereIsNoDisplay_data();
  void saysWhyThereIsNoDisplay();

private:
  QTemporaryDir dir_;
  QProcess server_;
  QString display_; // the virtual X server's, once it runs
};

// One X server for the rows that need one, which lets in only holders of its cookie.
void TestDisplay::initTestCase() {
  QVERIFY(dir_.isValid());
  QByteArray cookie(16, '\0');
  QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(cookie.data()), 4);
  QVERIFY(writeAuthority(dir_.filePath("cookie"), cookie));
  QFile none(dir_.filePath("none"));
  QVERIFY(none.open(QIODevice::WriteOnly));
  // A library of the X platform plugin that cannot load.
  QVERIFY(QDir(dir_.path()).mkdir("broken"));
  QFile broken(dir_.filePath("broken/libxcb-icccm.so.4"));
  QVERIFY(broken.open(QIODevice::WriteOnly));
  if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
    return;
  server_.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp", "-auth",
                                         dir_.filePath("cookie"), "-screen", "0", "320x240x24"});
  QVERIFY(server_.waitForStarted());
  QTRY_VERIFY_WITH_TIMEOUT(server_.canReadLine() || server_.state() == QProcess::NotRunning,
                           finishMs);
  const QByteArray number = server_.readLine().trimmed();
  QVERIFY2(!number.isEmpty(), server_.readAllStandardError().constData());
  display_ = QLatin1Char(':') + QString::fromLatin1(number);
}

void TestDisplay::cleanupTestCase() {
  server_.terminate();
  server_.waitForFinished();
}

void TestDisplay::saysWhyThereIsNoDisplay_data() {
  QTest::addColumn<bool>("needsServer");
  QTest::addColumn<Variables>("variables");
  // What the program says, in order; "<d>" stands for the server's display.
  QTest::addColumn<QStringList>("said");
  QTest::addColumn<bool>("aborts");
  const QString authority = dir_.filePath("cookie");
  QTest::newRow("DISPLAY unset")
      << false << Variables{}
      << QStringList{"No display to show the window on: DISPLAY is not set.", "\nQt: qt.qpa."}
      << false;
  QTest::newRow("nothing at :87") << false << Variables{{"DISPLAY", ":87"}}
                                  << QStringList{"显示器 :87 无应答。",
                                                 "nothing answers at DISPLAY=:87.", "\nQt: qt.qpa.",
                                                 ":87"}
                                  << false;
  QTest::newRow("nothing at localhost:87")
      << false << Variables{{"DISPLAY", "localhost:87"}}
      << QStringList{"nothing answers at DISPLAY=localhost:87."} << false;
  QTest::newRow("refused without the cookie")
      << true << Variables{{"DISPLAY", "<d>"}, {"XAUTHORITY", dir_.filePath("none")}}
      << QStringList{"The display DISPLAY=<d> refused the connection: “", "XAUTHORITY",
                     "\nQt: qt.qpa."}
      << false;
  QTest::newRow("let in, but the platform plugin cannot load")
      << true
      << Variables{{"DISPLAY", "<d>"},
                   {"XAUTHORITY", authority},
                   {"LD_LIBRARY_PATH", dir_.filePath("broken")}}
      << QStringList{"Qt could not use the display DISPLAY=<d>; QT_DEBUG_PLUGINS=1 shows why."}
      << false;
  // Qt ends the program on its first warning: that warning is said before the end.
  QTest::newRow("warnings made fatal")
      << false << Variables{{"DISPLAY", ":87"}, {"QT_FATAL_WARNINGS", "1"}}
      << QStringList{"qt.qpa.xcb", ":87"} << true;
}

void TestDisplay::saysWhyThereIsNoDisplay() {
  QFETCH(bool, needsServer);
  QFETCH(Variables, variables);
  QFETCH(QStringList, said);
  QFETCH(bool, aborts);
  if (needsServer && display_.isEmpty())
    QSKIP("No Xvfb (Debian package xvfb) to play the X server");
  for (QString &value : variables)
    value.replace(QLatin1String("<d>"), display_);
  const Run run = runSetup(variables);
  if (aborts) {
    QCOMPARE(run.exit, QProcess::CrashExit);
  } else {
    QCOMPARE(run.exit, QProcess::NormalExit);
    QCOMPARE(run.status, 1);
    // Said in one paragraph at the end, after anything the X library wrote itself.
    QVERIFY2(run.err.endsWith(QLatin1Char('\n')) && run.err.count(QLatin1Char('\n')) <= 4,
             qPrintable(run.err));
  }
  qsizetype from = 0;
  for (QString words : said) {
    words.replace(QLatin1String("<d>"), display_);
    const qsizetype at = run.err.indexOf(words, from);
    QVERIFY2(at >= 0, qPrintable(QStringLiteral("“%1” not in:\n%2").arg(words, run.err)));
    from = at + words.size();
  }
}

QTEST_GUILESS_MAIN(TestDisplay)
#include "tst_display.moc"
