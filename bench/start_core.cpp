// The floor for the command-line program: a bare QCoreApplication that starts, turns its event
// loop once and ends, as a program that does nothing at all on Qt would.
#include <QCoreApplication>
#include <QTimer>

int main(int argc, char *argv[]) {
  QCoreApplication app(argc, argv);
  QTimer::singleShot(0, &app, &QCoreApplication::quit);
  return app.exec();
}
