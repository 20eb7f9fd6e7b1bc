#include "window/commandline.h"
#include "window/display.h"
#include "window/form1.h"
#include "window/quitonsignal.h"

#include <QApplication>
#include <QIcon>
#include <QTextStream>

int main(int argc, char *argv[]) {
  if (const auto answer = answerBeforeTheWindow(argc, argv)) {
    QTextStream(stdout) << *answer << Qt::flush;
    return 0;
  }
  DisplayFallback display(argc, argv);
  QApplication app(argc, argv);
  const bool noDisplay = display.noDisplay();
  const WindowArguments arguments = windowArguments();
  if (arguments.problem) {
    QTextStream(stderr) << *arguments.problem << Qt::endl;
    return 2;
  }
  if (noDisplay) {
    QTextStream(stderr) << noDisplayText() << Qt::endl;
    return noDisplayStatus;
  }
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/qelnor-setup-48.png")));
  quitOnTerminationSignals();
  Form1 window;
  window.setComDevices(arguments.comDevices);
  window.show();
  return app.exec();
}
