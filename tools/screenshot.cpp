// Renders the main window, as it looks right after start, into a PNG for the README:
//   QT_QPA_PLATFORM=offscreen build/window-screenshot docs/window.png
#include "window/form1.h"

#include <QApplication>
#include <QPixmap>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  if (argc != 2) {
    qWarning("usage: window-screenshot FILE.png");
    return 2;
  }
  Form1 window;
  window.show();
  return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
