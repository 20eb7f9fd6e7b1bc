#include "support/boxes.h"

#include "window/messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocumentFragment>

BoxOperator::BoxOperator() {
  connect(&timer_, &QTimer::timeout, this, &BoxOperator::dismissOpenBox);
  timer_.start(5);
}

void BoxOperator::dismissOpenBox() {
  auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
  if (!box || !box->isVisible())
    return;
  int visibleBoxes = 0;
  for (QWidget *w : QApplication::topLevelWidgets())
    visibleBoxes += qobject_cast<QMessageBox *>(w) && w->isVisible();
  twoAtOnce |= visibleBoxes > 1;
  auto *closePort = box->findChild<QPushButton *>(QStringLiteral("extraButton"));
  closeOffers += closePort != nullptr;
  iconSeen |=
      box->icon() != QMessageBox::NoIcon || box->buttons().size() != 1 + (closePort != nullptr);
  untitled |= box->windowTitle() != applicationTitle();
  maximisable |= box->windowFlags().testFlag(Qt::WindowMaximizeButtonHint);
  texts.append(box->textFormat() == Qt::RichText
                   ? QTextDocumentFragment::fromHtml(box->text()).toPlainText()
                   : box->text());
  (closePort && closePortWhenOffered ? closePort : box->button(QMessageBox::Ok))->click();
}
