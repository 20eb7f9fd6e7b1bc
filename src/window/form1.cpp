#include "window/form1.h"

#include "device/frames.h"
#include "device/replytext.h"
#include "serial/devicemap.h"
#include "serial/openport.h"
#include "serial/serialport.h"
#include "ui_form1.h"
#include "window/messagebox.h"
#include "window/startup.h"

#include <QTimer>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// The captions are drawn in the Song face; AR PL UMing is the usual stand-in where SimSun is
// not installed. Each list starts with the face its platform has: resolving a font whose first
// family is missing makes fontconfig search for stand-ins, a cost paid at every start-up.
#ifdef Q_OS_WIN
const QStringList songFaces{QStringLiteral("SimSun"), QStringLiteral("宋体"),
                            QStringLiteral("AR PL UMing CN")};
// Fixedsys is a bitmap font only Windows has; any fixed-pitch face keeps the code columns.
const QStringList fixedFaces{QStringLiteral("Fixedsys"), QStringLiteral("DejaVu Sans Mono"),
                             QStringLiteral("AR PL UMing CN")};
#else
const QStringList songFaces{QStringLiteral("AR PL UMing CN"), QStringLiteral("SimSun"),
                            QStringLiteral("宋体")};
const QStringList fixedFaces{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("AR PL UMing CN")};
#endif

QFont faceFont(const QStringList &families, int pointSize, QFont::Weight weight) {
  QFont f;
  f.setFamilies(families);
  f.setPointSize(pointSize);
  f.setWeight(weight);
  // Laying out text loads each glyph to measure it; hinted, each load also runs FreeType's
  // hinter, which for the Song face's CJK glyphs was the largest single cost of start-up. The
  // captions look the same unhinted.
  f.setHintingPreference(QFont::PreferNoHinting);
  return f;
}

// The entry boxes draw their text in the colour of an active title bar where the platform
// has one, and in the palette's highlight colour elsewhere.
QColor entryTextColour(const QPalette &palette) {
#ifdef Q_OS_WIN
  Q_UNUSED(palette);
  const COLORREF c = GetSysColor(COLOR_ACTIVECAPTION);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
#else
  return palette.color(QPalette::Active, QPalette::Highlight);
#endif
}

void fill(QComboBox *box, const QStringList &items) {
  const QString designText = box->currentText();
  box->addItems(items);
  box->setCurrentIndex(-1);
  box->setEditText(designText);
}

QString droppedNotice(qint64 dropped) {
  if (dropped == 0)
    return {};
  return QStringLiteral("\n\n另有 %1 条回复因等待过多被丢弃。\n%1 further replies were dropped: "
                        "too many were waiting.")
      .arg(dropped);
}

} // namespace

Form1::Form1(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::Form1>()), comm_(new SerialPort(this)) {
  comm_->setObjectName(QStringLiteral("MSComm1"));
  // Set before the controls exist, so that they are created and laid out in the Song face
  // once instead of in the default face first.
  setFont(faceFont(songFaces, 9, QFont::Normal));
  ui->setupUi(this);
  setFixedSize(size());
  applyFonts();
  connectHandlers();
  Form_Load();
}

Form1::~Form1() = default;

void Form1::applyFonts() {
  ui->Text1->setFont(faceFont(songFaces, 24, QFont::Bold));
  ui->Text2->setFont(faceFont(fixedFaces, 12, QFont::Normal));
  for (QLineEdit *entry : {ui->Text1, ui->Text2}) {
    QPalette palette = entry->palette();
    palette.setColor(QPalette::Text, entryTextColour(palette));
    entry->setPalette(palette);
  }
}

void Form1::connectHandlers() {
  connect(ui->Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
  connect(ui->Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
  connect(ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(ui->Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
  connect(ui->Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
  connect(ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
  connect(ui->Combo1, &PortComboBox::dropDown, this, &Form1::Combo1_DropDown);
  connect(comm_, &SerialPort::OnComm, this, &Form1::MSComm1_OnComm);
  connect(comm_, &SerialPort::Failed, this, &Form1::MSComm1_Failed);
}

void Form1::Form_Load() {
  // An editable box would otherwise complete "com3" to "COM3" and keep typed texts as new
  // items; the texts are matched exactly and the lists are fixed.
  for (QComboBox *box : {static_cast<QComboBox *>(ui->Combo1), ui->Combo2, ui->Combo3})
    box->setCompleter(nullptr);
  fill(ui->Combo1, portItems());
  fill(ui->Combo2, rateItems());
  fill(ui->Combo3, parityItems());
}

template <typename Work> void Form1::guarded(Work work) {
  try {
    work();
  } catch (const Failure &failure) {
    showBox(failureText(failure));
  }
}

void Form1::Command6_Click() {
  guarded([this] {
    try {
      OpenPort(*comm_, ui->Combo1->currentText(), ui->Combo2->currentText(),
               ui->Combo3->currentText());
    } catch (const Failure &) {
      comm_->setPortOpen(false);
      throw;
    }
    setPortOpenedControls(true);
  });
}

void Form1::Command3_Click() {
  guarded([this] { comm_->Output(addressFrame(ui->Text1->text())); });
}

void Form1::Command1_Click() {
  guarded([this] { comm_->Output(userCodeFrame(ui->Text2->text())); });
}

void Form1::Command4_Click() {
  guarded([this] { comm_->Output(powerOnLockFrame()); });
}

void Form1::Command5_Click() {
  guarded([this] { comm_->Output(initialPasswordFrame()); });
}

void Form1::Command2_Click() {
  for (const QString &message : aboutMessages())
    showBox(message);
}

void Form1::Combo1_DropDown() {
#ifdef Q_OS_WIN
  const QStringList devices = comPortDescriptions(ui->Combo1->count());
#else
  const QStringList devices = comm_->devicesForComNumbers(ui->Combo1->count());
#endif
  for (int i = 0; i < devices.size(); ++i)
    ui->Combo1->setItemData(i, devices[i].isEmpty() ? tr("没有设备 no device") : devices[i],
                            Qt::ToolTipRole);
}

void Form1::MSComm1_OnComm() {
  if (comm_->CommEvent() != SerialPort::comEvReceive)
    return;
  replies_.push(comm_->Input());
  scheduleWaitingMessages();
}

void Form1::MSComm1_Failed(const Failure &failure) {
  setPortOpenedControls(false);
  lineFault_ = failure;
  scheduleWaitingMessages();
}

void Form1::setPortOpenedControls(bool opened) {
  ui->Command6->setEnabled(!opened);
  for (QPushButton *command : {ui->Command3, ui->Command5, ui->Command1, ui->Command4})
    command->setEnabled(opened);
}

void Form1::showBox(const QString &text) {
  boxOpen_ = true;
  showMessageBox(this, text);
  boxOpen_ = false;
  scheduleWaitingMessages();
}

// Boxes are never opened inside the serial notification: a modal loop there would hold back
// the notification for bytes that arrive meanwhile.
void Form1::scheduleWaitingMessages() {
  if (showScheduled_ || (replies_.isEmpty() && !lineFault_))
    return;
  showScheduled_ = true;
  QTimer::singleShot(0, this, &Form1::showWaitingMessages);
}

void Form1::showWaitingMessages() {
  showScheduled_ = false;
  while (!boxOpen_) {
    if (const auto waiting = replies_.take()) {
      ui->Label5->setText(replyText(waiting->reply));
      showBox(ui->Label5->text() + droppedNotice(waiting->droppedMeanwhile));
    } else if (lineFault_) {
      const Failure fault = *std::exchange(lineFault_, std::nullopt);
      showBox(failureText(fault));
    } else {
      return;
    }
  }
}
