// The least a Qt Widgets program does to show a window: the baseline the window's start-up and
// memory have been measured against from the start.
#include <QApplication>
#include <QLabel>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QLabel window(QStringLiteral("QELNOR"));
  window.show();
  return app.exec();
}
