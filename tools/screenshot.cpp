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
  const std::pair<QPalette::ColorRole, const char *> colours[] = {
      {QPalette::Window, "#353535"},    {QPalette::WindowText, "#eeeeee"},
      {QPalette::Base, "#3d3d3d"},      {QPalette::Text, "#eeeeee"},
      {QPalette::Button, "#454545"},    {QPalette::ButtonText, "#eeeeee"},
      {QPalette::Highlight, "#12608a"}, {QPalette::HighlightedText, "#ffffff"},
      {QPalette::Light, "#505050"},     {QPalette::Midlight, "#474747"},
      {QPalette::Mid, "#2b2b2b"},       {QPalette::Dark, "#202020"},
      {QPalette::Shadow, "#101010"}};
  QPalette dark;
  for (const auto &[role, colour] : colours)
    dark.setColor(role, QColor(colour));
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
