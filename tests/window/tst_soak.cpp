#include "device/replytext.h"
#include "serial/serialport.h"
#include "support/boxes.h"
#include "support/process.h"
#include "support/pty.h"
#include "window/form1.h"

#include <QComboBox>
#include <QHash>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

// A scripted operator and a scripted device, both driven by one seed, against the real window.
// After every step it checks that the window is up, that every byte on the wire belongs to a
// frame the operator chose and was not refused, that every byte the device sent while the port
// was open is accounted for in order by the boxes (a reply shown, stray bytes named before a
// reply or alone, or when the port closed, replies and stray bytes counted where they were
// dropped), that no two boxes were open at once, and
// that memory stays bounded. The device also falls silent mid-block, stops reading while the
// operator clicks on, and vanishes. Set QELNOR_SOAK_SEED to replay a failing run; a failure
// names its seed and step.
// What the program has done with the bytes of one open period of the port, as far as its boxes
// and its reports of stray bytes tell: the bytes the device sent, how far they are accounted
// for, and the replies and stray runs taken but not yet shown.
struct Segment {
  struct Taken {
    bool stray;
    QByteArray bytes;
  };
  QByteArray bytes;
  qsizetype accounted = 0;
  QList<Taken> taken;

  // The next reply or stray run in the program's order; replies not told otherwise are the
  // next 12 bytes.
  std::optional<Taken> next() {
    if (!taken.isEmpty())
      return taken.takeFirst();
    return nextBlock();
  }
  std::optional<Taken> nextBlock() {
    if (bytes.size() - accounted < replyBlockSize)
      return std::nullopt;
    accounted += replyBlockSize;
    return Taken{false, bytes.sliced(accounted - replyBlockSize, replyBlockSize)};
  }
};

// Longer than the soak runs: stray bytes wait for the silence the script makes.
constexpr int strayHeldMs = 3600 * 1000;

class Soak {
public:
  explicit Soak(quint32 seed) : seed_(seed), rng_(seed) {
    form_.MSComm1().setDeviceResolver(
        [this](int n) { return device_ && (n == 1 || n == 3) ? device_->path() : QString(); });
    QObject::connect(&form_.MSComm1(), &SerialPort::StrayDropped, &form_,
                     [this](const QByteArray &bytes) { strayDropped(bytes); });
    form_.show();
  }

  void run(int steps);

  int replyBlocks = 0;
  int losses = 0;
  int refusals = 0;
  int garbageBytes = 0;
  int strayRuns = 0;
  int busyRefusals = 0;

private:
  QString where() const { return QStringLiteral("seed %1 step %2: ").arg(seed_).arg(step_); }
  template <typename T = QWidget> T *control(const char *name) {
    return form_.findChild<T *>(name);
  }
  template <typename T> const T &pick(const QList<T> &items) {
    return items.at(rng_.bounded(int(items.size())));
  }
  bool isOpen() { return form_.MSComm1().PortOpen(); }

  void operatorStep();
  void deviceStep();
  void open();
  void click(const char *button, QByteArray expected);
  void clickUntilBusy();
  void deviceWrites(const QByteArray &bytes);
  void deviceLeaves();
  void deviceFallsSilent();
  void strayDropped(const QByteArray &bytes);
  bool checkWire();
  bool checkBoxes();
  bool checkReplyBox(const QString &text);
  bool accountLine(const QString &line);
  bool fail(const QString &what);
  QString userCode();

  quint32 seed_;
  QRandomGenerator rng_;
  int step_ = 0;
  Form1 form_;
  BoxOperator boxes_;
  std::unique_ptr<PseudoTerminal> device_ = std::make_unique<PseudoTerminal>();
  int comPort_ = 1;
  QByteArray expectedWire_, wire_;
  qsizetype wireChecked_ = 0;
  bool deaf_ = false;       // the device does not read what the program sends
  QList<Segment> segments_; // the oldest not yet closed by a loss box first
  qsizetype boxesSeen_ = 0;
  int lossBoxes_ = 0;
};

// What the operator may expect for a user code: sent in code page 936 unless a control
// character could cut the frame or a character has no place in it. The bytes of the few
// characters the soak types are written out here rather than asked of a converter, so that a
// converter that goes wrong cannot agree with itself.
QByteArray expectedUserCodeFrame(const QString &code) {
  static const QHash<QString, QByteArray> codePage936{{QStringLiteral("中"), "\xD6\xD0"},
                                                      {QStringLiteral("文"), "\xCE\xC4"},
                                                      {QStringLiteral("漢"), "\x9D\x68"},
                                                      {QStringLiteral("€"), "\x80"}};
  QByteArray bytes;
  for (QChar c : code) {
    if (c.unicode() >= 0x20 && c.unicode() < 0x7f)
      bytes += char(c.unicode());
    else if (const auto found = codePage936.find(QString(c)); found != codePage936.end())
      bytes += *found;
    else
      return {};
  }
  return "*@-" + bytes + "\r";
}

#define SOAK_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) {                                                                            \
      QTest::qFail(qPrintable(where() + QStringLiteral(#condition)), __FILE__, __LINE__);          \
      return;                                                                                      \
    }                                                                                              \
  } while (false)

QString Soak::userCode() {
  static const QStringList pieces{"1234", "",    " ",    "中文", "€", "\r",
                                  "\n",   "\t",  "\x7f", "😀",    "A", "@Power on lock enable",
                                  "漢",   "\xa0"};
  QString code;
  for (int n = rng_.bounded(4); n > 0; --n)
    code += pick(pieces);
  return code;
}

bool Soak::fail(const QString &what) {
  QTest::qFail(qPrintable(where() + what), __FILE__, __LINE__);
  return false;
}

// A frame goes out unless the operator is told the line is busy; then nothing of it does.
void Soak::click(const char *button, QByteArray expected) {
  const bool sendable = isOpen() && control(button)->isEnabled();
  const auto busyBoxes = [this] {
    return boxes_.texts.filter(QRegularExpression(QStringLiteral("^错误 1010 "))).size();
  };
  const qsizetype busyBefore = busyBoxes();
  control<QPushButton>(button)->click();
  const bool refused = busyBoxes() > busyBefore;
  busyRefusals += refused;
  if (sendable && !refused)
    expectedWire_ += expected;
}

// The operator clicks on and on while the device does not read, until told the line is busy.
void Soak::clickUntilBusy() {
  for (int clicks = 0; clicks < 3000 && isOpen(); ++clicks) {
    const int refusedBefore = busyRefusals;
    click(clicks % 2 ? "Command4" : "Command5",
          clicks % 2 ? "@Power on lock enable\r" : "*2-IniP\r");
    if (busyRefusals > refusedBefore)
      return;
  }
}

void Soak::open() {
  static const QStringList ports{"COM1", "COM3", "COM2", "com3", "COM16", "COM3 ", "COM 3", ""};
  static const QStringList rates{"9600", "1200", "2400", "4800", "19200", "abc"};
  static const QStringList parities{"None", "Odd", "Even", "none"};
  const QString port = pick(ports);
  control<QComboBox>("Combo1")->setEditText(port);
  control<QComboBox>("Combo2")->setEditText(pick(rates));
  control<QComboBox>("Combo3")->setEditText(pick(parities));
  // A text names an entry whatever its case and the blanks around it.
  const QString named = port.trimmed().toUpper();
  if (const int n = named.startsWith(QLatin1String("COM")) ? named.mid(3).toInt() : 0;
      n >= 1 && n <= 15 && named == QStringLiteral("COM%1").arg(n))
    comPort_ = n;
  control<QPushButton>("Command6")->click();
  const bool shouldOpen = device_ && (comPort_ == 1 || comPort_ == 3);
  SOAK_CHECK(isOpen() == shouldOpen);
  SOAK_CHECK(control("Command6")->isEnabled() == !shouldOpen);
  if (!shouldOpen)
    return;
  SOAK_CHECK(control<QComboBox>("Combo1")->currentText() == QStringLiteral("COM%1").arg(comPort_));
  SOAK_CHECK(!control("Combo1")->isEnabled() && !control("Combo2")->isEnabled());
  segments_.append(Segment{});
  // Bytes short of a block become stray only where the device falls silent in the script: a
  // machine that holds the soak up must not make a silence anywhere else.
  form_.MSComm1().setStrayGapMs(strayHeldMs);
}

void Soak::operatorStep() {
  switch (rng_.bounded(8)) {
  case 0:
    if (control("Command6")->isEnabled())
      open();
    break;
  case 1: {
    static const QList<std::pair<QString, QByteArray>> addresses{
        {"0", "ID00\r"},  {"7", "ID07\r"},  {"42", "ID42\r"}, {"99", "ID99\r"},
        {" 5", "ID05\r"}, {".5", "ID00\r"}, {"1.", "ID01\r"}, {"", {}},
        {"ab", {}},       {"-1", {}},       {"+", {}}};
    const auto &[address, frame] = pick(addresses);
    control<QLineEdit>("Text1")->setText(address);
    refusals += frame.isEmpty();
    click("Command3", frame);
    break;
  }
  case 2: {
    QString code = userCode();
    control<QLineEdit>("Text2")->setText(code);
    // Line breaks at the end, which the box could not show, are not kept.
    while (code.endsWith(QLatin1Char('\n')) || code.endsWith(QLatin1Char('\r')))
      code.chop(1);
    SOAK_CHECK(control<QLineEdit>("Text2")->text() == code);
    // A code longer than the box takes is refused, not cut.
    const QByteArray frame = code.size() > 32 ? QByteArray() : expectedUserCodeFrame(code);
    refusals += frame.isEmpty();
    click("Command1", frame);
    break;
  }
  case 3:
    click("Command4", "@Power on lock enable\r");
    break;
  case 4:
    click("Command5", "*2-IniP\r");
    break;
  case 5:
    if (deaf_ && rng_.bounded(2))
      clickUntilBusy();
    else
      control<QPushButton>("Command2")->click();
    break;
  default:
    deviceStep();
  }
}

void Soak::deviceWrites(const QByteArray &bytes) {
  if (!device_)
    return;
  device_->write(bytes);
  if (isOpen()) // else discarded when the port next opens
    segments_.last().bytes += bytes;
}

// The program says it dropped bytes short of a block after a silence. They must be the end of
// what the device sent, past the whole blocks the program has taken as replies since it last
// dropped any (a write may still be on its way: the latest blocks that fit are the ones).
void Soak::strayDropped(const QByteArray &bytes) {
  if (segments_.isEmpty() || bytes.isEmpty() || bytes.size() >= replyBlockSize) {
    fail(QStringLiteral("dropped %1 stray bytes").arg(bytes.size()));
    return;
  }
  Segment &segment = segments_.last();
  const qsizetype available = segment.bytes.size() - segment.accounted;
  qsizetype blocks = (available - bytes.size()) / replyBlockSize;
  while (blocks >= 0 &&
         segment.bytes.mid(segment.accounted + blocks * replyBlockSize, bytes.size()) != bytes)
    --blocks;
  if (blocks < 0) {
    fail(QStringLiteral("stray bytes %1 were never sent").arg(QString::fromLatin1(bytes.toHex())));
    return;
  }
  for (; blocks > 0; --blocks)
    segment.taken.append(*segment.nextBlock());
  segment.taken.append({true, bytes});
  segment.accounted += bytes.size();
  ++strayRuns;
}

void Soak::deviceLeaves() {
  // Let the program take what was sent first: bytes still in the line when a device vanishes
  // are lost with it, as on real hardware.
  if (isOpen()) {
    const Segment &segment = segments_.last();
    QTRY_COMPARE(form_.MSComm1().InBufferCount(),
                 (segment.bytes.size() - segment.accounted) % replyBlockSize);
  }
  deaf_ = false;
  if (!checkWire())
    return;
  const bool wasOpen = isOpen();
  device_.reset();
  if (wasOpen) {
    ++losses;
    QTRY_VERIFY(!isOpen());
  }
}

// Once the program has taken what was sent, the silence is over at once: what waits short of
// a block is dropped.
void Soak::deviceFallsSilent() {
  if (!isOpen())
    return;
  const Segment &segment = segments_.last();
  QTRY_COMPARE(form_.MSComm1().InBufferCount(),
               (segment.bytes.size() - segment.accounted) % replyBlockSize);
  form_.MSComm1().setStrayGapMs(0);
  QTRY_COMPARE(form_.MSComm1().InBufferCount(), 0);
  form_.MSComm1().setStrayGapMs(strayHeldMs);
}

void Soak::deviceStep() {
  const auto reply = [this] {
    QByteArray block(replyBlockSize, '\0');
    for (char &byte : block)
      byte = char(rng_.bounded(256));
    return block;
  };
  switch (rng_.bounded(7)) {
  case 0:
  case 1:
    deviceWrites(reply());
    break;
  case 2: {
    const QByteArray block = reply();
    const int cut = 1 + rng_.bounded(int(replyBlockSize) - 1);
    deviceWrites(block.first(cut));
    QCoreApplication::processEvents();
    deviceWrites(block.sliced(cut));
    break;
  }
  case 3:
    deviceWrites(reply() + reply());
    break;
  case 4: {
    QByteArray garbage(1 + rng_.bounded(20), '\0');
    for (char &byte : garbage)
      byte = char(rng_.bounded(256));
    garbageBytes += int(garbage.size());
    deviceWrites(garbage);
    // Now and then the device falls silent after the noise, long enough for it to be stray.
    if (rng_.bounded(4) == 0)
      deviceFallsSilent();
    break;
  }
  case 5: {
    QByteArray flood;
    for (int n = 100 + rng_.bounded(200); n > 0; --n)
      flood += reply();
    deviceWrites(flood);
    break;
  }
  default:
    if (device_ && rng_.bounded(3) == 0)
      deaf_ = !deaf_;
    else if (device_)
      deviceLeaves();
    else
      device_ = std::make_unique<PseudoTerminal>();
  }
}

bool Soak::checkWire() {
  // A device that reads again takes all that waited, as fast as the program sends it: a frame
  // at a time, a poll of the line apart. The wait turns the event loop as soon as anything is
  // due (a sleep between turns would cost a stopped machine far more than the frames do).
  if (device_ && !deaf_) {
    const QDeadlineTimer deadline(120 * 1000);
    QTimer wake;
    wake.start(1);
    while ((wire_ += device_->read(0)).size() < expectedWire_.size() && !deadline.hasExpired())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  static const QRegularExpression frames(QStringLiteral(
      R"(^(ID\d\d\r|\*@-[^\x00-\x1f\x7f]*\r|@Power on lock enable\r|\*2-IniP\r)*$)"));
  // Only what came since the wire last held whole frames: a pattern over all of it would run
  // into the pattern engine's limits.
  const QString asLatin1 = QString::fromLatin1(wire_.sliced(wireChecked_));
  const bool sentSoFar = deaf_ ? expectedWire_.startsWith(wire_) : wire_ == expectedWire_;
  const bool ok = sentSoFar && (deaf_ || frames.match(asLatin1).hasMatch());
  if (ok && !deaf_)
    wireChecked_ = wire_.size();
  if (!ok)
    QTest::qFail(
        qPrintable(where() + QStringLiteral("wire (%3 bytes) ends in %1, expected (%4 bytes) %2")
                                 .arg(QString::fromLatin1(wire_.right(48).toHex(' ')),
                                      QString::fromLatin1(expectedWire_.right(48).toHex(' ')))
                                 .arg(wire_.size())
                                 .arg(expectedWire_.size())),
        __FILE__, __LINE__);
  return ok;
}

// Takes the stray runs the program dropped, oldest first, until count bytes; their hex as the
// boxes show it (the first 32 bytes), or nothing when they do not add up to count.
std::optional<QString> takeStray(Segment &segment, qint64 count) {
  QByteArray bytes;
  while (bytes.size() < count && !segment.taken.isEmpty() && segment.taken.constFirst().stray)
    bytes += segment.next()->bytes;
  if (bytes.isEmpty() || bytes.size() != count)
    return std::nullopt;
  return QString::fromLatin1(bytes.first(qMin<qsizetype>(bytes.size(), 32)).toHex(' ').toUpper());
}

// One line of a box of replies, against what the device sent.
bool Soak::accountLine(const QString &line) {
  static const QRegularExpression stray(QStringLiteral(
      R"((\d+) stray bytes? ignored(?: before this reply|, no reply followed): ([0-9A-F ]*?)( …)?$)"));
  static const QRegularExpression dropped(QStringLiteral(
      R"((\d+) repl(?:y|ies) dropped here: too many were waiting\.(?:.* (\d+) stray bytes? dropped)?)"));
  static const QRegularExpression droppedStray(
      QStringLiteral(R"((\d+) stray bytes? dropped here: too many replies were waiting\.$)"));
  if (line.contains(QLatin1String("more replies follow in the next")) ||
      line.contains(QLatin1String("more reply follows in the next")))
    return true;
  if (segments_.isEmpty())
    return fail(QStringLiteral("“%1” while the port was never open").arg(line));
  Segment &segment = segments_.first();
  const auto droppedMatch = dropped.match(line);
  const auto droppedStrayMatch = droppedStray.match(line);
  if (droppedMatch.hasMatch() || droppedStrayMatch.hasMatch()) {
    qint64 replies = droppedMatch.hasMatch() ? droppedMatch.captured(1).toLongLong() : 0;
    qint64 strayBytes = droppedMatch.hasMatch() ? droppedMatch.captured(2).toLongLong()
                                                : droppedStrayMatch.captured(1).toLongLong();
    if (replies == 0 && strayBytes == 0)
      return fail(QStringLiteral("“%1” says nothing was dropped").arg(line));
    replyBlocks += int(replies);
    while (replies > 0 || strayBytes > 0) {
      const auto taken = segment.next();
      if (!taken)
        return fail(QStringLiteral("“%1”: more than was sent").arg(line));
      if (taken->stray)
        strayBytes -= taken->bytes.size();
      else
        --replies;
    }
    return replies == 0 && strayBytes == 0 ? true : fail(QStringLiteral("“%1”").arg(line));
  }
  if (const auto match = stray.match(line); match.hasMatch()) {
    const auto hex = takeStray(segment, match.captured(1).toLongLong());
    if (!hex || match.captured(2) != *hex)
      return fail(
          QStringLiteral("“%1”, but %2 were dropped").arg(line, hex.value_or("other bytes")));
    return true;
  }
  const auto taken = segment.next();
  if (!taken || taken->stray || replyText(taken->bytes) != line)
    return fail(QStringLiteral("box line “%1” is not the next reply").arg(line));
  ++replyBlocks;
  return true;
}

bool Soak::checkReplyBox(const QString &text) {
  for (const QString &line : text.split(QLatin1Char('\n')))
    if (!accountLine(line))
      return false;
  return true;
}

bool Soak::checkBoxes() {
  static const QRegularExpression failure(QStringLiteral(R"(^错误 (\d+)  Error )"));
  for (; boxesSeen_ < boxes_.texts.size(); ++boxesSeen_) {
    const QString &text = boxes_.texts.at(boxesSeen_);
    if (const auto match = failure.match(text); match.hasMatch()) {
      if (match.captured(1) != QLatin1String("57"))
        continue;
      // The port closed: the replies of that line were all shown before this box, stray bytes
      // still waiting for a reply are named in it, and what is left is an unfinished block,
      // lost with the line.
      ++lossBoxes_;
      Segment closed = segments_.isEmpty() ? Segment{} : segments_.takeFirst();
      static const QRegularExpression strayAtClose(QStringLiteral(
          R"((\d+) stray bytes? with no reply after them were ignored when the port closed: )"
          R"(([0-9A-F ]*?)( …)?$)"));
      if (const auto stray = strayAtClose.match(text); stray.hasMatch()) {
        const auto hex = takeStray(closed, stray.captured(1).toLongLong());
        if (!hex || stray.captured(2) != *hex)
          return fail(
              QStringLiteral("“%1”, but %2 were dropped").arg(text, hex.value_or("other bytes")));
      }
      if (!closed.taken.isEmpty())
        return fail(closed.taken.constFirst().stray
                        ? QStringLiteral("stray bytes of a lost line were never named")
                        : QStringLiteral("a reply of a lost line was never shown"));
      if (closed.bytes.size() - closed.accounted >= replyBlockSize)
        return fail(QStringLiteral("a reply of a lost line was never shown"));
      continue;
    }
    if (text.startsWith(QLatin1String("QELNOR ")) || text.contains(QStringLiteral("©")))
      continue;
    // What was opened in place of a list text that named no entry.
    if (text.contains(QLatin1String("is not one of the list's")))
      continue;
    if (!checkReplyBox(text))
      return false;
  }
  return !boxes_.twoAtOnce && !boxes_.iconSeen && !boxes_.untitled && !boxes_.maximisable;
}

void Soak::run(int steps) {
  qint64 residentAtStart = 0;
  for (step_ = 0; step_ < steps; ++step_) {
    operatorStep();
    if (QTest::currentTestFailed())
      return;
    QCoreApplication::processEvents();
    SOAK_CHECK(form_.isVisible());
    SOAK_CHECK(checkWire());
    SOAK_CHECK(checkBoxes());
    if (step_ == steps / 10)
      residentAtStart = residentKb();
  }
  // Every whole block the device sent is shown or counted, and every loss gave one box.
  const auto allShown = [this] {
    if (!checkBoxes())
      return true;
    for (const Segment &segment : segments_)
      for (const Segment::Taken &taken : segment.taken)
        if (!taken.stray)
          return false;
    return segments_.isEmpty() ||
           segments_.last().bytes.size() - segments_.last().accounted < replyBlockSize;
  };
  QTRY_VERIFY_WITH_TIMEOUT(allShown(), 20000);
  SOAK_CHECK(checkBoxes());
  SOAK_CHECK(lossBoxes_ == losses);
  SOAK_CHECK(residentKb() - residentAtStart < 16 * 1024);
}

class TestSoak : public QObject {
  Q_OBJECT

private slots:
  void operatorAndDeviceMisbehave();
};

void TestSoak::operatorAndDeviceMisbehave() {
  const quint32 seed = qEnvironmentVariableIsSet("QELNOR_SOAK_SEED")
                           ? quint32(qEnvironmentVariableIntValue("QELNOR_SOAK_SEED"))
                           : 20261208u;
  // Fewer where every step costs ten times its own time (a machine that stops the test).
  const int steps = qEnvironmentVariableIsSet("QELNOR_SOAK_STEPS")
                        ? qEnvironmentVariableIntValue("QELNOR_SOAK_STEPS")
                        : 4000;
  Soak soak(seed);
  soak.run(steps);
  std::printf("seed %u: %d steps, %d reply blocks, %d garbage bytes, %d stray runs, %d refused "
              "inputs, %d busy refusals, %d losses\n",
              seed, steps, soak.replyBlocks, soak.garbageBytes, soak.strayRuns, soak.refusals,
              soak.busyRefusals, soak.losses);
  std::fflush(stdout);
  QVERIFY(soak.replyBlocks > 0 && soak.losses > 0 && soak.refusals > 0);
  QVERIFY(soak.strayRuns > 0 && soak.busyRefusals > 0);
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
