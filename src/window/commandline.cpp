#include "window/commandline.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

QString helpText() {
  return QStringLiteral(
      "Usage: qelnor-setup [-h|--help] [--version]\n"
      "经 RS-232 串口设置 QELNOR 彩屏的窗口程序。\n"
      "The window with which an operator sets a QELNOR colour screen over an RS-232 line:\n"
      "its communication address, its user code, its power-on password, its password reset.\n"
      "\n"
      "Options 选项:\n"
      "  -h, --help   显示本帮助。Show this help.\n"
      "  --version    显示版本。Show the version.\n"
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

  Options() {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({help, version});
  }
};

// What is wrong with what the application left of the command line, in both languages where
// it can be.
QString problemWith(const QCommandLineParser &parser, bool parsed) {
  if (parsed)
    return QStringLiteral("多余的参数 Unexpected argument: %1")
        .arg(parser.positionalArguments().first());
  const QString name = parser.unknownOptionNames().value(0);
  if (name.isEmpty())
    return QStringLiteral("命令行有误。%1").arg(parser.errorText());
  // Quoted as typed, "-name" or "--name".
  QString typed = QLatin1Char('-') + name;
  for (const QString &argument : QApplication::arguments().mid(1))
    if (argument.section(QLatin1Char('='), 0, 0) == QLatin1String("--") + name)
      typed = QLatin1String("--") + name;
  return QStringLiteral("未知选项 Unknown option: %1").arg(typed);
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

std::optional<QString> argumentsLeftOver() {
  Options options;
  const bool parsed = options.parser.parse(QApplication::arguments());
  if (parsed && options.parser.positionalArguments().isEmpty())
    return std::nullopt;
  return problemWith(options.parser, parsed) + QLatin1Char('\n') +
         QStringLiteral("用法见 See: qelnor-setup --help");
}
