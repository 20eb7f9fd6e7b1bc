#include "window/commandline.h"

#include "common/exitstatus.h"
#include "common/record.h"
#include "common/usageerror.h"
#include "serial/openport.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

QString helpText() {
  return QStringLiteral(
      "Usage: qelnor-setup [-h|--help] [--version] [--com COMn=DEVICE]... [--record FILE]\n"
      "经 RS-232 串口设置 QELNOR 彩屏的窗口程序。\n"
      "The window with which an operator sets a QELNOR colour screen over an RS-232 line:\n"
      "its communication address, its user code, its power-on password, its password reset.\n"
      "\n"
      "Options 选项:\n"
      "  -h, --help   显示本帮助。Show this help.\n"
      "  --version    显示版本。Show the version.\n"
      "  --com COMn=DEVICE\n"
      "               列表中的 COMn 使用该设备，例如 --com COM1=/dev/pts/3；可重复。\n"
      "               COMn of the port list (n from 1 to 15) opens DEVICE, for a device the\n"
      "               system does not list (a pseudo-terminal, a device server's port).\n"
      "               May be given for several COM names.\n"
      "  --record FILE\n"
      "               把每一帧及其结果写入记录文件，格式与 qelnor-cli commission 的记录相同\n"
      "               （CSV；文件名以 .jsonl 结尾时为 JSON 行）；文件已存在时追加。\n"
      "               Writes every frame sent and what came of it to FILE, in the columns and\n"
      "               words of qelnor-cli commission's record (CSV; JSON lines for a name\n"
      "               ending in .jsonl), after what a record there already holds. Each line\n"
      "               is on the disk before the next frame leaves. A FILE that cannot be\n"
      "               written ends the program before the window opens (exit status 8), and\n"
      "               one that holds something other than such a record is left as it is\n"
      "               (exit status 3). A record that fails later is told in a box, and\n"
      "               nothing more is sent.\n"
      "\n"
      "The options every Qt program understands apply as well, for example -platform.\n"
      "Any other argument is a usage error (exit status 2).\n"
      "其他参数视为命令行错误（退出状态 2）。\n"
      "\n"
      "From scripts 命令行: qelnor-cli --help\n");
}

QString versionText() {
  return QStringLiteral("qelnor-setup %1").arg(QStringLiteral(QELNOR_VERSION));
}

// Only the program's own options. Qt's options are words with a single dash (-platform,
// -stylesheet), so single-dash words are read as whole names: "-stylesheet" is not "-s -t -y
// -l -e -s -h …", and only "-h" asks for the help.
struct Options {
  QCommandLineParser parser;
  QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
  QCommandLineOption version{QStringLiteral("version")};
  QCommandLineOption com{QStringLiteral("com"), QString(), QStringLiteral("COMn=DEVICE")};
  QCommandLineOption record{QStringLiteral("record"), QString(), QStringLiteral("FILE")};

  Options() {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({help, version, com, record});
  }
};

// What is wrong with what the application left of the command line, in both languages where
// it can be.
QString problemWith(const QCommandLineParser &parser, bool parsed) {
  if (parsed)
    return QStringLiteral("多余的参数 Unexpected argument: %1")
        .arg(parser.positionalArguments().first());
  return parserProblem(parser, QApplication::arguments());
}

} // namespace

std::optional<QString> answerBeforeTheWindow(int argc, char *argv[]) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i)
    arguments.append(QString::fromLocal8Bit(argv[i]));
  // Qt's own options are still among the arguments here and unknown to this parser; its
  // complaints wait for argumentsLeftOver().
  Options options;
  options.parser.parse(arguments);
  if (options.parser.isSet(options.help))
    return helpText();
  if (options.parser.isSet(options.version))
    return versionText() + QLatin1Char('\n');
  return std::nullopt;
}

WindowArguments windowArguments() {
  Options options;
  const bool parsed = options.parser.parse(QApplication::arguments());
  WindowArguments arguments;
  if (parsed && options.parser.positionalArguments().isEmpty()) {
    for (const QString &value : options.parser.values(options.com)) {
      const std::optional<int> number = comNumberFromName(value.section(QLatin1Char('='), 0, 0));
      const QString device = value.section(QLatin1Char('='), 1);
      if (!number || device.isEmpty() || arguments.comDevices.contains(*number)) {
        arguments.problem =
            QStringLiteral("--com 的值应为 COMn=设备，n 为 1–15，每个 COMn 一次。--com takes "
                           "COMn=DEVICE, n from 1 to 15, each COMn once: “%1”")
                .arg(value);
        break;
      }
      arguments.comDevices.insert(*number, device);
    }
    const QStringList records = options.parser.values(options.record);
    if (records.size() > 1 || (records.size() == 1 && records.first().isEmpty()))
      arguments.problem = QStringLiteral("--record 需要一个文件名，只能给一次。"
                                         "--record takes one file name, once.");
    else if (!records.isEmpty())
      arguments.record = records.first();
  } else {
    arguments.problem = problemWith(options.parser, parsed);
  }
  if (arguments.problem)
    *arguments.problem += QStringLiteral("\n用法见 See: qelnor-setup --help");
  return arguments;
}

WindowRecord openWindowRecord(const QString &path) {
  const bool json = path.endsWith(QLatin1String(".jsonl"), Qt::CaseInsensitive);
  if (!mayAppendRecord(path, json))
    return {nullptr,
            QStringLiteral("%1 不是%2记录，未写入。%1 holds something other than a %3 record; "
                           "nothing was written to it.")
                .arg(path, json ? QStringLiteral(" JSON ") : QStringLiteral(" CSV "),
                     json ? QStringLiteral("JSON") : QStringLiteral("CSV")),
            ExitStatus::InputRefused};
  auto file = std::make_unique<RecordFile>(path, json);
  if (const QString problem = file->open(); !problem.isEmpty())
    return {nullptr, problem, ExitStatus::OutputFailed};
  return {std::move(file), {}, ExitStatus::Sent};
}
