// The fair floor for the window's start-up and memory: the window's own form, with the same
// controls, captions and faces, and no logic at all (no port object, palette, notes or
// handlers). The form is read from the program's, so the two cannot drift apart.
#include "ui_floor.h"
#include "window/appearance.h"

#include <QApplication>

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  QWidget window;
  window.setFont(songFont(9, QFont::Normal));
  Ui::Form1 form;
  form.setupUi(&window);
  form.Text1->setFont(songFont(24, QFont::Bold));
  form.Text2->setFont(fixedPitchFont(12));
  window.show();
  return app.exec();
}
