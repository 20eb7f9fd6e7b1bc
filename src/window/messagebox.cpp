#include "window/messagebox.h"

#include <QMessageBox>

QString applicationTitle() { return QStringLiteral("QELNOR彩屏设置软件"); }

void showMessageBox(QWidget *parent, const QString &text) {
  QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
  box.exec();
}

QString failureText(const Failure &failure) {
  return QStringLiteral("错误 %1  Error %1\n\n%2").arg(failure.number()).arg(failure.description());
}
