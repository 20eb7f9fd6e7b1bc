#include "cli/arguments.h"
#include "cli/commission.h"
#include "cli/events.h"
#include "cli/portlist.h"
#include "cli/session.h"
#include "common/terminationsignal.h"
#include "serial/openport.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QTextStream>
#include <csignal>

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

// What was printed is the run's result: when it could not be written (a full disk, a closed
// pipe), a run that would have succeeded says so by its status instead.
int outputFailed(QTextStream &out, QTextStream &err, int status) {
  out.flush();
  err.flush();
  const bool failed = out.status() != QTextStream::Ok || err.status() != QTextStream::Ok;
  return failed && status == ExitStatus::Sent ? ExitStatus::OutputFailed : status;
}

} // namespace

int main(int argc, char *argv[]) {
  qtHandler = qInstallMessageHandler(withoutLocaleNotice);
  QCoreApplication app(argc, argv);
  qInstallMessageHandler(qtHandler);
#ifdef Q_OS_WIN
  // Everything is written in UTF-8; a console shows it as such only when told, and the console
  // outlives the program.
  const UINT consoleCodePage = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  const auto restoreCodePage = qScopeGuard([consoleCodePage] {
    if (consoleCodePage != 0)
      SetConsoleOutputCP(consoleCodePage);
  });
#else
  // A reader that went away (a closed pipe) makes a write fail, to be told by the exit status,
  // instead of killing the program with its port as it is.
  ::signal(SIGPIPE, SIG_IGN);
#endif
  QTextStream out(stdout);
  QTextStream err(stderr);
  const auto status = [&](int status) { return outputFailed(out, err, status); };

  const Parsed parsed = parseArguments(app.arguments());
  if (std::holds_alternative<ShowHelp>(parsed)) {
    out << helpText() << Qt::flush;
    return status(ExitStatus::Sent);
  }
  if (std::holds_alternative<ShowVersion>(parsed)) {
    out << versionText() << Qt::endl;
    return status(ExitStatus::Sent);
  }
  if (const auto *usage = std::get_if<Usage>(&parsed)) {
    err << usage->problem << "\n" << QStringLiteral("用法见 See: qelnor-cli --help") << Qt::endl;
    return status(ExitStatus::UsageError);
  }

  const Request &request = std::get<Request>(parsed);
  EventWriter events(out, err, request.json, request.hex);
  if (request.command == Command::List)
    return status(listPorts(events, systemComDevices(highestComNumber)));
  if (request.command == Command::Commission) {
    SerialPort port;
    constexpr int standardInput = 0;
    Commission commission(request, events, port, standardInput);
    QObject::connect(&commission, &Commission::finished, &app, &QCoreApplication::exit);
    onTerminationSignal(&commission, [&commission](int) { commission.stop(); });
    QMetaObject::invokeMethod(&commission, &Commission::start, Qt::QueuedConnection);
    return status(app.exec());
  }
  Session session(request, events);
  QObject::connect(&session, &Session::finished, &app, &QCoreApplication::exit);
  onTerminationSignal(&session, [&session](int signal) { session.stop(signal); });
  QMetaObject::invokeMethod(&session, &Session::start, Qt::QueuedConnection);
  return status(app.exec());
}
