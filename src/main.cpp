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
  if (const auto problem = argumentsLeftOver()) {
    QTextStream(stderr) << *problem << Qt::endl;
    return 2;
  }
  if (noDisplay) {
    QTextStream(stderr) << noDisplayText() << Qt::endl;
    return noDisplayStatus;
  }
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/qelnor-setup-48.png")));
  quitOnTerminationSignals();
  Form1 window;
  window.show();
  return app.exec();
}
