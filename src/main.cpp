#include "window/form1.h"
#include "window/quitonsignal.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/qelnor-setup-48.png")));
  quitOnTerminationSignals();
  Form1 window;
  window.show();
  return app.exec();
}
