#include "window/form1.h"
#include "window/quitonsignal.h"

#include <QApplication>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  quitOnTerminationSignals();
  Form1 window;
  window.show();
  return app.exec();
}
