#include "window/messagebox.h"

#include <QMessageBox>

QString applicationTitle() { return QStringLiteral("QELNOR彩屏设置软件"); }

void showMessageBox(QWidget *parent, const QString &text) {
  QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
  box.exec();
}
