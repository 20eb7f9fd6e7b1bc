// Drives the plan reader: a plan is either refused, with its problems and no rows, or read into
// rows that each send well-formed frames in the plan's order; and the rows, written back as a
// plan, read into the same frames, so that what is sent is what the file says.

#include "cli/plan.h"
#include "check.h"
#include "common/csv.h"
#include "device/codepage.h"
#include "device/frames.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <cstddef>
#include <cstdint>

namespace {

const QStringList commandOrder{QStringLiteral("address"), QStringLiteral("user-code"),
                               QStringLiteral("power-on-lock"), QStringLiteral("reset-password")};

QString hex(const QByteArray &bytes) { return QString::fromLatin1(bytes.toHex(' ')); }

QList<QByteArrayList> framesOf(const Plan &plan) {
  QList<QByteArrayList> rows;
  for (const PlanRow &row : plan.rows) {
    QByteArrayList frames;
    for (const PlanCommand &command : row.commands)
      frames.append(command.frame);
    rows.append(frames);
  }
  return rows;
}

void checkRow(const PlanRow &row, const QByteArray &input) {
  const auto where = [&] { return QStringLiteral("line %1 of %2").arg(row.line).arg(hex(input)); };
  FUZZ_CHECK(row.address.size() == 2 && row.address[0].isDigit() && row.address[1].isDigit() &&
                 row.address[0].unicode() < 0x80 && row.address[1].unicode() < 0x80,
             where() + QStringLiteral(": address “%1”").arg(row.address));
  FUZZ_CHECK(!row.commands.isEmpty() && row.commands.first().word == commandOrder.first() &&
                 row.commands.first().frame == "ID" + row.address.toLatin1() + '\r',
             where() + QStringLiteral(": no address frame first"));
  qsizetype last = -1;
  for (const PlanCommand &command : row.commands) {
    const qsizetype order = commandOrder.indexOf(command.word);
    FUZZ_CHECK(order > last, where() + QStringLiteral(": %1 out of order").arg(command.word));
    last = order;
    const QByteArray &frame = command.frame;
    if (command.word == QLatin1String("user-code"))
      FUZZ_CHECK(frame.size() > 4 && frame.startsWith("*@-") && frame.endsWith('\r') &&
                     frame.count('\r') == 1,
                 where() + QStringLiteral(": user-code frame %1").arg(hex(frame)));
    else if (command.word == QLatin1String("power-on-lock"))
      FUZZ_CHECK(frame == powerOnLockFrame(), where());
    else if (command.word == QLatin1String("reset-password"))
      FUZZ_CHECK(frame == initialPasswordFrame(), where());
  }
}

// The plan the rows say, as a spreadsheet would save it.
QByteArray writtenBack(const Plan &plan) {
  QString text = QStringLiteral("address,user_code,power_on_password,reset_password\n");
  for (const PlanRow &row : plan.rows) {
    QStringList cells{row.address, {}, QStringLiteral("no"), QStringLiteral("no")};
    for (const PlanCommand &command : row.commands) {
      if (command.word == QLatin1String("user-code"))
        cells[1] = fromCodePage936(command.frame.sliced(3, command.frame.size() - 4)).value_or("?");
      else if (command.word == QLatin1String("power-on-lock"))
        cells[2] = QStringLiteral("yes");
      else if (command.word == QLatin1String("reset-password"))
        cells[3] = QStringLiteral("yes");
    }
    text += csvLine(cells) + u'\n';
  }
  return "\xEF\xBB\xBF" + text.toUtf8();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  const bool allowRepeats = data[0] & 1;
  const auto encoding = PlanEncoding((data[0] >> 1) % 3);
  const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
  const Plan plan = planFromBytes(input, allowRepeats, encoding);
  FUZZ_CHECK(plan.problems.isEmpty() != plan.rows.isEmpty(),
             QStringLiteral("%1: %2 rows and %3 problems")
                 .arg(hex(input))
                 .arg(plan.rows.size())
                 .arg(plan.problems.size()));
  QSet<QString> addresses;
  int lastLine = 1;
  for (const PlanRow &row : plan.rows) {
    checkRow(row, input);
    FUZZ_CHECK(row.line > lastLine, QStringLiteral("%1: line %2").arg(hex(input)).arg(row.line));
    lastLine = row.line;
    FUZZ_CHECK(allowRepeats || !addresses.contains(row.address),
               QStringLiteral("%1: address %2 repeated").arg(hex(input), row.address));
    addresses.insert(row.address);
  }
  if (plan.rows.isEmpty())
    return 0;
  const QByteArray again = writtenBack(plan);
  const Plan reread = planFromBytes(again, allowRepeats, PlanEncoding::Detect);
  FUZZ_CHECK(reread.problems.isEmpty() && framesOf(reread) == framesOf(plan),
             QStringLiteral("%1 written back as %2 reads differently: %3")
                 .arg(hex(input), hex(again), reread.problems.join(QLatin1Char('\n'))));
  return 0;
}
