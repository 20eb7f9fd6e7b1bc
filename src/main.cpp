#include "common/record.h"
#include "window/appearance.h"
#include "window/commandline.h"
#include "window/display.h"
#include "window/form1.h"
#include "window/quitonsignal.h"
#include "window/tell.h"

#include <QApplication>

int main(int argc, char *argv[]) {
  if (const auto answer = answerBeforeTheWindow(argc, argv)) {
    tell(*answer, Told::Answer);
    return 0;
  }
  DisplayFallback display(argc, argv);
  QApplication app(argc, argv);
  const std::optional<QString> noDisplay = display.problem();
  const WindowArguments arguments = windowArguments();
  if (arguments.problem) {
    tell(*arguments.problem + QLatin1Char('\n'), Told::Problem);
    return 2;
  }
  if (noDisplay) {
    tell(*noDisplay + QLatin1Char('\n'), Told::Problem);
    return noDisplayStatus;
  }
  WindowRecord record;
  if (!arguments.record.isEmpty())
    record = openWindowRecord(arguments.record);
  if (!record.problem.isEmpty()) {
    tell(record.problem + QLatin1Char('\n'), Told::Problem);
    return record.status;
  }
  quitOnTerminationSignals();
  Form1 window;
  setIconOncePainted(window, QStringLiteral(":/qelnor-setup-48.png"));
  window.setComDevices(arguments.comDevices);
  window.keepRecord(std::move(record.file));
  window.show();
  return app.exec();
}
