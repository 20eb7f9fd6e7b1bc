// The program's own main(), plus a reporter of the first paint: what start-up costs the
// operator, without giving the program itself a flag for it.
#include "firstpaint.h"
#include "window/form1.h"

#include <QApplication>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  Form1 window;
  FirstPaintReporter reporter(&window);
  window.show();
  return app.exec();
}
