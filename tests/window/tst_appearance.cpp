#include "darktheme.h"
#include "serial/serialport.h"
#include "support/pty.h"
#include "window/appearance.h"
#include "window/form1.h"
#include "window/wrapbutton.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

// What the operator reads, measured on the pixels of the window as it is painted; the suite
// runs at 100 % and again at 150 % (QT_SCALE_FACTOR).
class TestAppearance : public QObject {
  Q_OBJECT

private slots:
  void greyedTextReadsAsPainted_data();
  void greyedTextReadsAsPainted();
  void entryTextReadsOnEveryTheme_data();
  void entryTextReadsOnEveryTheme();
  void iconComesOnceTheWindowIsPainted();
};

namespace {

// Text as a reader sees it in area of image (logical pixels): the darkest colour, by contrast
// with the commonest colour there (the face behind the text), that at least three pixels
// reach, so that a stray pixel of a stroke's edge cannot stand for a pale stroke.
double paintedContrast(const QImage &image, const QRect &area) {
  const qreal ratio = image.devicePixelRatio();
  const QRect pixels = QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio)
                           .toAlignedRect()
                           .intersected(image.rect());
  QHash<QRgb, int> counts;
  for (int y = pixels.top(); y <= pixels.bottom(); ++y)
    for (int x = pixels.left(); x <= pixels.right(); ++x)
      ++counts[image.pixel(x, y)];
  QRgb face = 0;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it)
    if (it.value() > counts.value(face))
      face = it.key();
  QList<std::pair<double, int>> byContrast;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it)
    byContrast.append({contrastRatio(QColor(it.key()), QColor(face)), it.value()});
  std::sort(byContrast.begin(), byContrast.end(), std::greater<>());
  int reached = 0;
  for (const auto &[contrast, count] : byContrast)
    if ((reached += count) >= 3)
      return contrast;
  return 1;
}

QImage painted(Form1 &form) { return form.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QRect inForm(const QWidget *control, const QRect &area, const Form1 &form) {
  return area.translated(control->mapTo(&form, QPoint(0, 0)));
}

} // namespace

void TestAppearance::greyedTextReadsAsPainted_data() {
  QTest::addColumn<bool>("dark");
  QTest::addColumn<QFont::HintingPreference>("hinting");
  QTest::addColumn<QString>("control");
  QTest::addColumn<double>("least");
  // The face hinted, as drawn here, and unhinted, as the Windows build draws it.
  for (const auto hinting : {QFont::PreferFullHinting, QFont::PreferNoHinting}) {
    for (const bool dark : {false, true}) {
      const char *how = hinting == QFont::PreferFullHinting ? "hinted" : "unhinted";
      const char *theme = dark ? "dark" : "light";
      // Greyed captions are recognised: 3:1.
      for (const char *button : {"Command3", "Command1", "Command4", "Command5"})
        QTest::addRow("%s %s %s", how, theme, button)
            << dark << hinting << QString::fromLatin1(button) << 3.0;
      // The lists in force are read, every entry they can show: 4.5:1.
      for (const char *list : {"Combo1", "Combo2", "Combo3"})
        QTest::addRow("%s %s %s", how, theme, list)
            << dark << hinting << QString::fromLatin1(list) << 4.5;
    }
  }
}

// Greyed text in the window as painted, on the light theme the desktop gives and on a dark one:
// the four command buttons before the port is open, the three lists once it is open.
void TestAppearance::greyedTextReadsAsPainted() {
  QFETCH(bool, dark);
  QFETCH(QFont::HintingPreference, hinting);
  QFETCH(QString, control);
  QFETCH(double, least);
  const QPalette original = QApplication::palette();
  if (dark)
    QApplication::setPalette(darkTheme());
  const auto restore = qScopeGuard([&] { QApplication::setPalette(original); });
  Form1 form;
  QFont face = form.font();
  face.setHintingPreference(hinting);
  form.setFont(face);
  form.show();
  if (auto *button = form.findChild<WrapButton *>(control)) {
    QVERIFY(!button->isEnabled());
    const double contrast =
        paintedContrast(painted(form), inForm(button, button->captionRect(), form));
    qInfo("%.2f:1", contrast);
    QVERIFY2(contrast >= least, qPrintable(QStringLiteral("%1:1").arg(contrast)));
    return;
  }
  PseudoTerminal device;
  form.MSComm1().setDeviceResolver([&](int) { return device.path(); });
  form.findChild<QPushButton *>("Command6")->click();
  QVERIFY(form.MSComm1().PortOpen());
  auto *list = form.findChild<QComboBox *>(control);
  QVERIFY(!list->isEnabled());
  double lowest = 21;
  for (int i = 0; i < list->count(); ++i) {
    list->setEditText(list->itemText(i));
    const QLineEdit *field = list->lineEdit();
    const double contrast = paintedContrast(painted(form), inForm(field, field->rect(), form));
    lowest = qMin(lowest, contrast);
    QVERIFY2(contrast >= least,
             qPrintable(QStringLiteral("%1: %2:1").arg(list->itemText(i)).arg(contrast)));
  }
  qInfo("%.2f:1 at least", lowest);
}

void TestAppearance::entryTextReadsOnEveryTheme_data() {
  QTest::addColumn<QColor>("base");
  QTest::addColumn<QColor>("text");
  QTest::addColumn<QColor>("highlight");
  QTest::addColumn<bool>("highlightKept");
  QTest::newRow("light, highlight too pale")
      << QColor("#ffffff") << QColor("#000000") << QColor("#308cc6") << false;
  QTest::newRow("dark, highlight too dark")
      << QColor("#3d3d3d") << QColor("#ffffff") << QColor("#12608a") << false;
  QTest::newRow("light, highlight reads")
      << QColor("#ffffff") << QColor("#000000") << QColor("#003366") << true;
}

// The entry boxes keep their own text colour where it reads (4.5:1) and take the theme's
// text colour where it would not; a theme changed while the window is up is followed, and its
// greyed captions keep 3:1.
void TestAppearance::entryTextReadsOnEveryTheme() {
  QFETCH(QColor, base);
  QFETCH(QColor, text);
  QFETCH(QColor, highlight);
  const QPalette original = QApplication::palette();
  const auto restore = qScopeGuard([&] { QApplication::setPalette(original); });
  Form1 form;
  form.show();
  QPalette theme = original;
  theme.setColor(QPalette::Base, base);
  theme.setColor(QPalette::Text, text);
  theme.setColor(QPalette::Highlight, highlight);
  theme.setColor(QPalette::Disabled, QPalette::ButtonText, theme.color(QPalette::Button));
  QApplication::setPalette(theme);
  const QPalette address = form.findChild<QLineEdit *>("Text1")->palette();
  const QPalette shown = form.findChild<QPushButton *>("Command4")->palette();

  QVERIFY(contrastRatio(address.color(QPalette::Text), address.color(QPalette::Base)) >= 4.5);
  QTEST(address.color(QPalette::Text) == highlight, "highlightKept");
  QVERIFY(contrastRatio(shown.color(QPalette::Disabled, QPalette::ButtonText),
                        shown.color(QPalette::Disabled, QPalette::Button)) >= 3.0);
}

// The icon is read once the window has been painted, and then reaches it.
void TestAppearance::iconComesOnceTheWindowIsPainted() {
  QWidget window;
  setIconOncePainted(window, QStringLiteral(QELNOR_ICON));
  QVERIFY(QApplication::windowIcon().isNull());
  window.show();
  QTRY_VERIFY(!window.windowIcon().isNull());
  QCOMPARE(window.windowIcon().availableSizes(), QList<QSize>{QSize(48, 48)});
}

QTEST_MAIN(TestAppearance)
#include "tst_appearance.moc"
