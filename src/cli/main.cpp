#include "cli/arguments.h"
#include "cli/commission.h"
#include "cli/events.h"
#include "cli/portlist.h"
#include "cli/session.h"
#include "serial/terminationsignal.h"

#include <QCoreApplication>
#include <QTextStream>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QtMessageHandler qtHandler = nullptr;

// Under a locale that is not UTF-8 (LC_ALL=C in a cron job or a minimal container) Qt switches
// its character type to UTF-8 by itself and says so on standard error. The program reads its
// arguments and writes everything in UTF-8 whatever the locale, so the notice tells a script
// nothing; it is left out, and every other message passes.
void withoutLocaleNotice(QtMsgType type, const QMessageLogContext &context, const QString &text) {
  if (type == QtWarningMsg && text.startsWith(QLatin1String("Detected locale")))
    return;
  qtHandler(type, context, text);
}

} // namespace

int main(int argc, char *argv[]) {
  qtHandler = qInstallMessageHandler(withoutLocaleNotice);
  QCoreApplication app(argc, argv);
  qInstallMessageHandler(qtHandler);
#ifdef Q_OS_WIN
  // Everything is written in UTF-8; a console shows it as such only when told.
  SetConsoleOutputCP(CP_UTF8);
#endif
  QTextStream out(stdout);
  QTextStream err(stderr);

  const Parsed parsed = parseArguments(app.arguments());
  if (std::holds_alternative<ShowHelp>(parsed)) {
    out << helpText() << Qt::flush;
    return ExitStatus::Sent;
  }
  if (std::holds_alternative<ShowVersion>(parsed)) {
    out << versionText() << Qt::endl;
    return ExitStatus::Sent;
  }
  if (const auto *usage = std::get_if<Usage>(&parsed)) {
    err << usage->problem << "\n" << QStringLiteral("用法见 See: qelnor-cli --help") << Qt::endl;
    return ExitStatus::UsageError;
  }

  const Request &request = std::get<Request>(parsed);
  EventWriter events(out, err, request.json, request.hex);
  if (request.command == Command::List) {
    listPorts(events);
    return ExitStatus::Sent;
  }
  if (request.command == Command::Commission) {
    Commission commission(request, events);
    QObject::connect(&commission, &Commission::finished, &app, &QCoreApplication::exit);
    onTerminationSignal(&commission, [&commission](int) { commission.stop(); });
    QMetaObject::invokeMethod(&commission, &Commission::start, Qt::QueuedConnection);
    return app.exec();
  }
  Session session(request, events);
  QObject::connect(&session, &Session::finished, &app, &QCoreApplication::exit);
  onTerminationSignal(&session, [&session](int signal) { session.stop(signal); });
  QMetaObject::invokeMethod(&session, &Session::start, Qt::QueuedConnection);
  return app.exec();
}
