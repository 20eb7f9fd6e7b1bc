#include "common/usageerror.h"

QString parserProblem(const QCommandLineParser &parser, const QStringList &arguments) {
  const QStringList unknown = parser.unknownOptionNames();
  if (unknown.isEmpty())
    return QStringLiteral("命令行有误。%1").arg(parser.errorText());
  // Quoted as typed: "--bogus" (also for "--bogus=1"), "-x" (also inside "-xy").
  const QString name = unknown.first();
  QString typed = QLatin1Char('-') + name;
  for (const QString &argument : arguments.mid(1)) {
    const QString option = argument.section(QLatin1Char('='), 0, 0);
    if (option == QLatin1String("--") + name || option == QLatin1Char('-') + name) {
      typed = option;
      break;
    }
  }
  return QStringLiteral("未知选项 Unknown option: %1").arg(typed);
}
