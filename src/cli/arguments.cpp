#include "cli/arguments.h"

#include "serial/openport.h"

#include <QHash>
#include <cmath>

namespace {

const QHash<QString, Command> &commandNames() {
  static const QHash<QString, Command> names{
      {QStringLiteral("list"), Command::List},
      {QStringLiteral("address"), Command::Address},
      {QStringLiteral("user-code"), Command::UserCode},
      {QStringLiteral("power-on-lock"), Command::PowerOnLock},
      {QStringLiteral("reset-password"), Command::ResetPassword},
  };
  return names;
}

bool takesArgument(Command command) {
  return command == Command::Address || command == Command::UserCode;
}

// "odd" as the window's list writes it: "Odd".
QString parityListText(const QString &word) {
  const QString lower = word.toLower();
  return lower.left(1).toUpper() + lower.mid(1);
}

// The rates and parities are those of the window's settings table, and only those.
std::optional<Usage> checkLine(const Request &request) {
  bool rateKnown = false;
  bool parityKnown = false;
  for (const SettingsRow &row : SETTINGS_TABLE) {
    rateKnown = rateKnown || request.rate == QStringView(row.rate);
    parityKnown = parityKnown || request.parity == QStringView(row.parity);
  }
  if (!rateKnown)
    return Usage{QStringLiteral("速率应为 1200、2400、4800 或 9600。"
                                "The rate must be 1200, 2400, 4800 or 9600: “%1”")
                     .arg(request.rate)};
  if (!parityKnown)
    return Usage{QStringLiteral("校验应为 none、odd 或 even。"
                                "The parity must be none, odd or even: “%1”")
                     .arg(request.parity)};
  return std::nullopt;
}

std::optional<int> waitMsFrom(const QString &text) {
  constexpr double longestWaitSeconds = 24 * 3600;
  bool ok = false;
  const double seconds = text.toDouble(&ok);
  if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > longestWaitSeconds)
    return std::nullopt;
  return static_cast<int>(std::lround(seconds * 1000));
}

} // namespace

Parsed parseArguments(const QStringList &arguments) {
  Request request;
  QStringList words;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString &argument = arguments[i];
    if (argument == QLatin1String("-h") || argument == QLatin1String("--help"))
      return ShowHelp{};
    if (argument == QLatin1String("--version"))
      return ShowVersion{};
    if (argument == QLatin1String("--hex")) {
      request.hex = true;
      continue;
    }
    if (argument == QLatin1String("--json")) {
      request.json = true;
      continue;
    }
    // After "--" everything is a word, so that a user code may start with "--".
    if (argument == QLatin1String("--")) {
      words += arguments.mid(i + 1);
      break;
    }
    if (!argument.startsWith(QLatin1String("--")) || argument.size() == 2) {
      words.append(argument);
      continue;
    }
    // --name VALUE or --name=VALUE
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    const QString name = argument.left(equals);
    QString value;
    if (equals >= 0) {
      value = argument.mid(equals + 1);
    } else if (i + 1 < arguments.size()) {
      value = arguments[++i];
    } else {
      return Usage{QStringLiteral("%1 缺少取值。%1 needs a value.").arg(name)};
    }
    if (name == QLatin1String("--port")) {
      if (value.isEmpty())
        return Usage{QStringLiteral("--port 不能为空。--port needs a port.")};
      request.port = value;
      request.portIsDevice = !comNumberFromName(value);
    } else if (name == QLatin1String("--rate")) {
      request.rate = value;
    } else if (name == QLatin1String("--parity")) {
      request.parity = parityListText(value);
    } else if (name == QLatin1String("--wait")) {
      const auto waitMs = waitMsFrom(value);
      if (!waitMs)
        return Usage{QStringLiteral("--wait 应为 0 或正的秒数。"
                                    "--wait takes a number of seconds, 0 or more: “%1”")
                         .arg(value)};
      request.waitMs = *waitMs;
    } else {
      return Usage{QStringLiteral("未知选项 Unknown option: %1").arg(name)};
    }
  }

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
  if (const auto problem = checkLine(request))
    return *problem;
  return request;
}

QString versionText() {
  return QStringLiteral("qelnor-cli %1").arg(QStringLiteral(QELNOR_VERSION));
}
