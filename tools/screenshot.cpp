// Renders the main window, as it looks right after start, into a PNG for the README:
//   QT_QPA_PLATFORM=offscreen build/window-screenshot docs/window.png
//   QT_QPA_PLATFORM=offscreen build/window-screenshot --dark docs/window-dark.png
// --dark draws it on a dark theme (the colours of a common dark desktop theme).
#include "darktheme.h"
#include "window/form1.h"

#include <QApplication>
#include <QPalette>
#include <QPixmap>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  const bool dark = argc == 3 && QByteArrayView(argv[1]) == "--dark";
  if (argc != 2 && !dark) {
    qWarning("usage: window-screenshot [--dark] FILE.png");
    return 2;
  }
  if (dark)
    QApplication::setPalette(darkTheme());
  Form1 window;
  window.show();
  return window.grab().save(QString::fromLocal8Bit(argv[argc - 1])) ? 0 : 1;
}
