#include "window/appearance.h"
#include "window/form1.h"
#include "window/wrapbutton.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

// Every caption shows whole. Built for Windows too, where it runs under Wine with the faces
// there; here it runs at 100 % and again at 150 % (QT_SCALE_FACTOR).
class TestCaptions : public QObject {
  Q_OBJECT

private slots:
  void captionsShowWholeInEveryFace_data();
  void captionsShowWholeInEveryFace();
};

void TestCaptions::captionsShowWholeInEveryFace_data() {
  QTest::addColumn<QString>("face");
  // The face the window finds for itself; the Song face's stand-in and the faces a Windows PC
  // would use in its place, where this machine has them; faces with taller lines and wider
  // letters than the Song face's.
  QTest::newRow("the window's own") << QString();
  for (const char *face : {"AR PL UMing CN", "SimSun", "Microsoft YaHei", "Tahoma", "Segoe UI",
                           "DejaVu Sans", "DejaVu Serif"})
    QTest::newRow(face) << QString::fromLatin1(face);
}

// No caption loses a line or part of one, whatever face the window's captions are drawn in:
// every label, every wrapping button and every entry a list can show, in its own control.
void TestCaptions::captionsShowWholeInEveryFace() {
  QFETCH(QString, face);
  if (!face.isEmpty() && !QFontDatabase::hasFamily(face))
    QSKIP("not installed here");
  Form1 form;
  if (!face.isEmpty()) {
    QFont other = form.font();
    other.setFamilies({face});
    form.setFont(other);
    fitCaptions(form);
    // A face the system lists may still be drawn in another (a substitute that is missing).
    if (const QString drawn = QFontInfo(form.font()).family(); drawn != face)
      QSKIP(qPrintable(QStringLiteral("listed, but drawn in %1").arg(drawn)));
  }
  form.show();
  qInfo("%s at %g", qPrintable(QFontInfo(form.font()).family()), form.devicePixelRatioF());
  const auto shownWhole = [](const QWidget *control, const QRect &room, int flags,
                             const QString &text) {
    const QRect needed = control->fontMetrics().boundingRect(room, flags, text);
    return room.contains(needed) ||
           (qWarning() << control->objectName() << text << needed << "in" << room, false);
  };
  for (const QLabel *label : form.findChildren<QLabel *>())
    QVERIFY(shownWhole(label, label->contentsRect(), label->alignment() | Qt::TextWordWrap,
                       label->text()));
  for (const WrapButton *button : form.findChildren<WrapButton *>())
    QVERIFY(shownWhole(button, button->captionRect(), WrapButton::captionFlags, button->text()));
  for (const QComboBox *list : form.findChildren<QComboBox *>())
    for (int i = 0; i < list->count(); ++i)
      QVERIFY(shownWhole(list->lineEdit(), list->lineEdit()->rect().adjusted(2, 0, -2, 0),
                         Qt::AlignLeft | Qt::AlignTop, list->itemText(i)));
}

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
