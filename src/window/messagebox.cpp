#include "window/messagebox.h"

#include "device/replytext.h"

#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QToolTip>
#include <algorithm>
#include <limits>

QString applicationTitle() { return QStringLiteral("QELNOR彩屏设置软件"); }

int boxWidthForTitle(const QString &title) {
  QFont bold = QApplication::font("QMdiSubWindowTitleBar");
  bold.setBold(true);
  // The window icon and three buttons (minimise, maximise, close), with the frame's margins.
  constexpr int decorations = 4 * 28 + 24;
  return QFontMetrics(bold).horizontalAdvance(title) + decorations;
}

// At a box's size the mathematical angle brackets around an undrawable byte's hex read as the
// parentheses a device could have sent; reverse video cannot be mistaken for sent text.
void setBoxText(QMessageBox &box, const QString &text) {
  const auto drawnApart = [&text](qsizetype i) {
    return isControlPicture(text[i]) || undrawableMarkAt(QStringView(text).sliced(i)) > 0;
  };
  bool plain = true;
  for (qsizetype i = 0; i < text.size() && plain; ++i)
    plain = !drawnApart(i);
  if (plain) {
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    return;
  }
  const QString large = QStringLiteral("<span style=\"font-size:%1px\">")
                            .arg(QFontInfo(box.font()).pixelSize() * 5 / 2);
  const QString reversed = QStringLiteral("<span style=\"color:%1; background-color:%2\">")
                               .arg(box.palette().color(QPalette::Window).name(),
                                    box.palette().color(QPalette::WindowText).name());
  QString html;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (const qsizetype mark = undrawableMarkAt(QStringView(text).sliced(i))) {
      html += reversed + text.mid(i, mark) + QStringLiteral("</span>");
      i += mark - 1;
    } else if (isControlPicture(c)) {
      html += large + c + QStringLiteral("</span>");
    } else if (c == QLatin1Char('\n')) {
      html += QStringLiteral("<br>");
    } else {
      html += QString(c).toHtmlEscaped();
    }
  }
  box.setTextFormat(Qt::RichText);
  box.setText(QStringLiteral("<p style=\"white-space:pre-wrap\">") + html + QStringLiteral("</p>"));
}

namespace {

// A reply or an error number is often wanted elsewhere (a report, a support call): the text can
// be selected with the mouse, and Ctrl+C copies the selection, or the whole text without one.
// Returns whether the operator chose the extra button, when there is one.
bool execBox(QWidget *parent, const QString &text, const QString &extraButton) {
  QMessageBox box(QMessageBox::NoIcon, applicationTitle(), QString(), QMessageBox::Ok, parent);
  setBoxText(box, text);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  // A short reply would make a box narrower than its title: the box sizes itself from its
  // layout's minimum width, which a spacer across the layout raises.
  if (auto *grid = qobject_cast<QGridLayout *>(box.layout()))
    grid->addItem(new QSpacerItem(boxWidthForTitle(box.windowTitle()), 0, QSizePolicy::Minimum,
                                  QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
  const QShortcut copy(QKeySequence::Copy, &box, [&box, &text] {
    const auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    QGuiApplication::clipboard()->setText(label && label->hasSelectedText() ? label->selectedText()
                                                                            : text);
  });
  // Enter and Escape stay with OK, so that a key held down never chooses the extra button.
  QPushButton *extra = nullptr;
  if (!extraButton.isEmpty()) {
    extra = box.addButton(extraButton, QMessageBox::ActionRole);
    extra->setObjectName(QStringLiteral("extraButton"));
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
  }
  box.exec();
  return extra && box.clickedButton() == extra;
}

} // namespace

void showMessageBox(QWidget *parent, const QString &text) { execBox(parent, text, QString()); }

bool showMessageBoxOfferingClose(QWidget *parent, const QString &text) {
  return execBox(parent, text, QStringLiteral("关闭串口 Close the port"));
}

QPoint notePlace(const QWidget &at, QSize note) {
  const QWidget *window = at.window();
  const QRect control(at.mapTo(window, QPoint(0, 0)), at.size());
  QList<QRect> others;
  for (const QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
    if (child != &at && child->isVisible() && !child->property(roomForNotes).toBool())
      others.append(QRect(child->mapTo(window, QPoint(0, 0)), child->size()));
  }
  // Every place inside the window, scored by how much of the other controls and captions it
  // would cover and, after that, by its distance from the control, so that of equally good
  // places the nearest is taken.
  QPoint best = control.bottomLeft();
  qint64 bestCost = std::numeric_limits<qint64>::max();
  for (int y = 0; y + note.height() <= window->height(); ++y) {
    for (int x = 0; x + note.width() <= window->width(); x += 2) {
      const QRect place(QPoint(x, y), note);
      if (place.intersects(control))
        continue;
      qint64 covered = 0;
      for (const QRect &other : others) {
        const QRect both = place.intersected(other);
        covered += qint64(both.width()) * both.height();
      }
      const qint64 cost =
          covered * 1'000'000 + (place.topLeft() - control.bottomLeft()).manhattanLength();
      if (cost < bestCost) {
        bestCost = cost;
        best = place.topLeft();
      }
    }
  }
  return best;
}

// A tooltip shown where the mouse would put it is placed by the system; the note is moved to
// its place in the window once its size is known.
void showNote(QWidget *at, const QString &text) {
  QApplication::beep();
  QToolTip::showText(at->mapToGlobal(QPoint(0, at->height())), text, at, QRect(), noteShownMs);
  for (QWidget *tip : QApplication::topLevelWidgets()) {
    if (auto *label = qobject_cast<QLabel *>(tip);
        label && tip->inherits("QTipLabel") && tip->isVisible()) {
      // In the system's font and padding a one-line note would be taller than the free strip
      // it fits; the window's own font is the one it was measured in.
      label->setFont(at->window()->font());
      label->setMargin(1);
      tip->adjustSize();
      tip->move(at->window()->mapToGlobal(notePlace(*at, tip->size())));
    }
  }
}
