#include "cli/arguments.h"

#include "common/usageerror.h"
#include "device/frames.h"
#include "serial/openport.h"

#include <QCommandLineParser>
#include <QHash>
#include <cmath>

namespace {

const QHash<QString, Command> &commandNames() {
  static const QHash<QString, Command> names{
      {QStringLiteral("list"), Command::List},
      {commandWord(DeviceCommand::Address), Command::Address},
      {commandWord(DeviceCommand::UserCode), Command::UserCode},
      {commandWord(DeviceCommand::PowerOnLock), Command::PowerOnLock},
      {commandWord(DeviceCommand::ResetPassword), Command::ResetPassword},
      {QStringLiteral("commission"), Command::Commission},
  };
  return names;
}

bool takesArgument(Command command) {
  return command == Command::Address || command == Command::UserCode ||
         command == Command::Commission;
}

std::optional<int> waitMsFrom(const QString &text) {
  constexpr double longestWaitSeconds = 24 * 3600;
  bool ok = false;
  const double seconds = text.toDouble(&ok);
  if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > longestWaitSeconds)
    return std::nullopt;
  // The timer counts whole milliseconds; a wait asked for is never shortened to none.
  return static_cast<int>(std::ceil(seconds * 1000));
}

std::optional<PlanEncoding> planEncodingNamed(const QString &name) {
  const QString word = name.toLower();
  if (word == QLatin1String("utf-8") || word == QLatin1String("utf8"))
    return PlanEncoding::Utf8;
  if (word == QLatin1String("gbk"))
    return PlanEncoding::Gbk;
  return std::nullopt;
}

} // namespace

QString commandWord(Command command) { return commandNames().key(command); }

QByteArray commandFrame(const Request &request) {
  switch (request.command) {
  case Command::Address:
    return commandFrame(DeviceCommand::Address, request.argument);
  case Command::UserCode:
    return commandFrame(DeviceCommand::UserCode, request.argument);
  case Command::PowerOnLock:
    return commandFrame(DeviceCommand::PowerOnLock);
  case Command::ResetPassword:
    return commandFrame(DeviceCommand::ResetPassword);
  case Command::List:
  case Command::Commission:
    break;
  }
  return {};
}

Parsed parseArguments(const QStringList &arguments) {
  QCommandLineParser parser;
  // -h and --help only; the bilingual help below takes the place of Qt's generated one.
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringLiteral("version"));
  const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("COMn|DEVICE"));
  const QCommandLineOption rate(QStringLiteral("rate"), {}, QStringLiteral("RATE"));
  const QCommandLineOption parity(QStringLiteral("parity"), {}, QStringLiteral("PARITY"));
  const QCommandLineOption wait(QStringLiteral("wait"), {}, QStringLiteral("SECONDS"));
  const QCommandLineOption listen(QStringLiteral("listen"));
  const QCommandLineOption hex(QStringLiteral("hex"));
  const QCommandLineOption json(QStringLiteral("json"));
  const QCommandLineOption record(QStringLiteral("record"), {}, QStringLiteral("FILE"));
  const QCommandLineOption resume(QStringLiteral("resume"));
  const QCommandLineOption allowRepeats(QStringLiteral("allow-repeats"));
  const QCommandLineOption encoding(QStringLiteral("encoding"), {}, QStringLiteral("ENCODING"));
  parser.addOptions({help, version, port, rate, parity, wait, listen, hex, json, record, resume,
                     allowRepeats, encoding});

  if (!parser.parse(arguments))
    return Usage{parserProblem(parser, arguments)};
  if (parser.isSet(help))
    return ShowHelp{};
  if (parser.isSet(version))
    return ShowVersion{};

  Request request;
  request.listen = parser.isSet(listen);
  request.hex = parser.isSet(hex);
  request.json = parser.isSet(json);
  if (parser.isSet(port)) {
    request.port = parser.value(port);
    if (request.port.isEmpty())
      return Usage{QStringLiteral("--port 不能为空。--port needs a port.")};
    request.portIsDevice = !comNumberFromName(request.port);
  }
  if (parser.isSet(rate)) {
    // The rates and parities are those of the window's lists, named as the lists are.
    const auto listText = rateEntry(parser.value(rate));
    if (!listText)
      return Usage{QStringLiteral("速率应为 1200、2400、4800 或 9600。"
                                  "The rate must be 1200, 2400, 4800 or 9600: “%1”")
                       .arg(parser.value(rate))};
    request.rate = *listText;
  }
  if (parser.isSet(parity)) {
    const auto listText = parityEntry(parser.value(parity));
    if (!listText)
      return Usage{QStringLiteral("校验应为 none、odd 或 even。"
                                  "The parity must be none, odd or even: “%1”")
                       .arg(parser.value(parity))};
    request.parity = *listText;
  }
  if (parser.isSet(wait)) {
    const auto waitMs = waitMsFrom(parser.value(wait));
    if (!waitMs)
      return Usage{QStringLiteral("--wait 应为 0 或正的秒数。"
                                  "--wait takes a number of seconds, 0 or more: “%1”")
                       .arg(parser.value(wait))};
    request.waitMs = *waitMs;
  }

  // After "--" everything is a word, so that a user code may start with "-".
  const QStringList words = parser.positionalArguments();
  if (words.isEmpty())
    return Usage{QStringLiteral("缺少命令。No command given.")};
  const auto command = commandNames().constFind(words.first());
  if (command == commandNames().constEnd())
    return Usage{QStringLiteral("未知命令 Unknown command: %1").arg(words.first())};
  request.command = *command;
  const qsizetype expected = takesArgument(request.command) ? 2 : 1;
  if (words.size() != expected)
    return Usage{QStringLiteral("%1 需要 %2 个参数。%1 takes %2 argument(s).")
                     .arg(words.first())
                     .arg(expected - 1)};
  request.argument = words.value(1);
  request.record = parser.value(record);
  request.resume = parser.isSet(resume);
  request.allowRepeats = parser.isSet(allowRepeats);
  if (parser.isSet(encoding)) {
    const auto named = planEncodingNamed(parser.value(encoding));
    if (!named)
      return Usage{QStringLiteral("--encoding 应为 utf-8 或 gbk。"
                                  "--encoding takes utf-8 or gbk: “%1”")
                       .arg(parser.value(encoding))};
    request.encoding = *named;
  }
  const bool commissioning = request.command == Command::Commission;
  if (!commissioning &&
      (parser.isSet(record) || request.resume || request.allowRepeats || parser.isSet(encoding)))
    return Usage{QStringLiteral("--record、--resume、--allow-repeats 和 --encoding 只用于 "
                                "commission。--record, --resume, --allow-repeats and --encoding "
                                "go with commission only.")};
  // Every command of a plan waits for its own reply before the next goes out.
  if (commissioning && (request.listen || request.waitMs == 0))
    return Usage{QStringLiteral("commission 等待每条回复，不用 --listen 或 --wait 0。"
                                "commission waits for each reply: neither --listen nor "
                                "--wait 0.")};
  return request;
}

QString versionText() {
  return QStringLiteral("qelnor-cli %1").arg(QStringLiteral(QELNOR_VERSION));
}
