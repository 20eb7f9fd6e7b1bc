#include "window/messagebox.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QShortcut>

QString applicationTitle() { return QStringLiteral("QELNOR彩屏设置软件"); }

// A reply or an error number is often wanted elsewhere (a report, a support call): the text can
// be selected with the mouse, and Ctrl+C copies the selection, or the whole text without one.
void showMessageBox(QWidget *parent, const QString &text) {
  QMessageBox box(QMessageBox::NoIcon, applicationTitle(), text, QMessageBox::Ok, parent);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  const QShortcut copy(QKeySequence::Copy, &box, [&box] {
    const auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    QGuiApplication::clipboard()->setText(label && label->hasSelectedText() ? label->selectedText()
                                                                            : box.text());
  });
  box.exec();
}
