// Renders the main window, as it looks right after start, into a PNG for the README:
//   QT_QPA_PLATFORM=offscreen build/window-screenshot docs/window.png
//   QT_QPA_PLATFORM=offscreen build/window-screenshot --dark docs/window-dark.png
// --dark draws it on a dark theme (the colours of a common dark desktop theme).
#include "window/form1.h"

#include <QApplication>
#include <QPalette>
#include <QPixmap>

namespace {

QPalette darkTheme() {
  QPalette dark;
  dark.setColor(QPalette::Window, QColor("#353535"));
  dark.setColor(QPalette::WindowText, QColor("#eeeeee"));
  dark.setColor(QPalette::Base, QColor("#3d3d3d"));
  dark.setColor(QPalette::Text, QColor("#eeeeee"));
  dark.setColor(QPalette::Button, QColor("#454545"));
  dark.setColor(QPalette::ButtonText, QColor("#eeeeee"));
  dark.setColor(QPalette::Highlight, QColor("#12608a"));
  dark.setColor(QPalette::HighlightedText, QColor("#ffffff"));
  dark.setColor(QPalette::Light, QColor("#505050"));
  dark.setColor(QPalette::Midlight, QColor("#474747"));
  dark.setColor(QPalette::Mid, QColor("#2b2b2b"));
  dark.setColor(QPalette::Dark, QColor("#202020"));
  dark.setColor(QPalette::Shadow, QColor("#101010"));
  for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    dark.setColor(QPalette::Disabled, role, QColor("#6a6a6a"));
  return dark;
}

} // namespace

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
