// The baseline for start-up and memory: the least a Qt Widgets program does to show a window.
#include "firstpaint.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QLabel window(QStringLiteral("QELNOR"));
  FirstPaintReporter reporter(&window);
  window.show();
  return app.exec();
}
