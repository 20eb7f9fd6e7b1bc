#include "window/form1.h"

#include "device/frames.h"
#include "device/replytext.h"
#include "serial/openport.h"
#include "serial/serialport.h"
#include "ui_form1.h"
#include "window/appearance.h"
#include "window/messagebox.h"
#include "window/startup.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QScopedValueRollback>
#include <QTimer>
#include <QToolTip>

namespace {

void fill(QComboBox *box, const QStringList &items) {
  const QString designText = box->currentText();
  box->addItems(items);
  box->setCurrentIndex(-1);
  box->setEditText(designText);
}

// A flood of replies is shown a screenful at a time rather than in a box per reply.
constexpr qsizetype boxLineLimit = 16;

} // namespace

Form1::Form1(QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::Form1>()), comm_(new SerialPort(this)) {
  comm_->setObjectName(QStringLiteral("MSComm1"));
  // Set before the controls exist, so that they are created and laid out in the Song face
  // once instead of in the default face first.
  setFont(songFont(9, QFont::Normal));
  ui->setupUi(this);
  setFixedSize(size());
  applyFonts();
  applyPalette();
  connectHandlers();
  Form_Load();
}

Form1::~Form1() = default;

void Form1::applyFonts() {
  ui->Text1->setFont(songFont(24, QFont::Bold));
  // The described face has 8-pixel columns, so the box shows a whole code; a wider stand-in
  // would scroll the start of a long code out of sight.
  ui->Text2->setFont(
      fittingColumns(fixedPitchFont(12), ui->Text2->maxLength(), textAreaWidth(*ui->Text2)));
}

void Form1::applyPalette() {
  const QScopedValueRollback applying(applyingPalette_, true);
  setPalette(readablePalette(QApplication::palette(this)));
  for (QLineEdit *entry : {ui->Text1, ui->Text2})
    entry->setPalette(entryPalette(palette()));
}

void Form1::connectHandlers() {
  connect(ui->Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
  connect(ui->Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
  connect(ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(ui->Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
  connect(ui->Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
  connect(ui->Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
  connect(ui->Combo1, &PortComboBox::dropDown, this, &Form1::Combo1_DropDown);
  connect(ui->Combo1, &PortComboBox::toolTipAsked, this, &Form1::Combo1_ToolTip);
  connect(ui->Combo1, &QComboBox::highlighted, this, &Form1::Combo1_Highlighted);
  connect(comm_, &SerialPort::OnComm, this, &Form1::MSComm1_OnComm);
  connect(comm_, &SerialPort::Failed, this, &Form1::MSComm1_Failed);
  connect(comm_, &SerialPort::StrayDropped, this, &Form1::MSComm1_StrayDropped);
  ui->Text1->installEventFilter(this);
  qApp->installEventFilter(this);
}

// The theme can change while the window is up (a switch to a dark theme); the application is
// told, and the window follows.
bool Form1::eventFilter(QObject *watched, QEvent *event) {
  if (watched == ui->Text1 && event->type() == QEvent::FocusIn)
    Text1_GotFocus();
  if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange && !applyingPalette_)
    applyPalette();
  return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent *event) {
  Form_Unload();
  QWidget::closeEvent(event);
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

void Form1::Form_Unload() {
  comm_->waitUntilSent();
  comm_->setPortOpen(false);
}

// The address box holds two characters, so a digit typed after the one already there would
// be refused or pushed in beside it: whatever way the box is entered, typing replaces it.
void Form1::Text1_GotFocus() { QTimer::singleShot(0, ui->Text1, &QLineEdit::selectAll); }

void Form1::Command6_Click() {
  guarded([this] {
    try {
      OpenPort(*comm_, ui->Combo1->currentText(), ui->Combo2->currentText(),
               ui->Combo3->currentText());
    } catch (const Failure &) {
      comm_->setPortOpen(false);
      setPortOpenedControls(false);
      throw;
    }
    // The line can fail in the very moment after opening; the controls follow the port.
    setPortOpenedControls(comm_->PortOpen());
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
  const QStringList tips = deviceTips(comm_->comDevices(ui->Combo1->count()));
  for (int i = 0; i < tips.size(); ++i)
    ui->Combo1->setItemData(i, tips[i], Qt::ToolTipRole);
}

// Moving through the open list with the keyboard shows each entry's device in turn, instead
// of leaving the tooltip of an entry no longer highlighted.
void Form1::Combo1_Highlighted(int index) {
  const QAbstractItemView *list = ui->Combo1->view();
  const QRect entry = list->visualRect(list->model()->index(index, 0));
  QToolTip::showText(list->viewport()->mapToGlobal(entry.topRight()),
                     ui->Combo1->itemData(index, Qt::ToolTipRole).toString(), list->viewport(),
                     entry);
}

// The closed list names the device behind the port it would open, looked up now.
void Form1::Combo1_ToolTip(const QPoint &globalPosition) {
  const int comNumber = comNumberFromName(ui->Combo1->currentText()).value_or(comm_->CommPort());
  const QStringList tips = deviceTips(comm_->comDevices(highestComNumber));
  QToolTip::showText(globalPosition,
                     QStringLiteral("COM%1: %2").arg(comNumber).arg(tips.value(comNumber - 1)),
                     ui->Combo1);
}

void Form1::MSComm1_OnComm() {
  if (comm_->CommEvent() != SerialPort::comEvReceive)
    return;
  replies_.push(comm_->Input());
  scheduleWaitingMessages();
}

void Form1::MSComm1_StrayDropped(const QByteArray &bytes) { replies_.pushStray(bytes); }

void Form1::MSComm1_Failed(const Failure &failure) {
  replies_.lineClosed();
  setPortOpenedControls(false);
  lineFault_ = failure;
  scheduleWaitingMessages();
}

// While the port is open the lists show what is in force and cannot be changed, since nothing
// would apply a change to the open port.
void Form1::setPortOpenedControls(bool opened) {
  if (opened) {
    const ChoiceTexts inForce = choicesInForce(comm_->CommPort(), comm_->Settings());
    ui->Combo1->setEditText(inForce.port);
    ui->Combo2->setEditText(inForce.rate);
    ui->Combo3->setEditText(inForce.parity);
  }
  for (QComboBox *list : {static_cast<QComboBox *>(ui->Combo1), ui->Combo2, ui->Combo3})
    list->setEnabled(!opened);
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
  if (showScheduled_ || (!replies_.hasWaiting() && !lineFault_))
    return;
  showScheduled_ = true;
  QTimer::singleShot(0, this, &Form1::showWaitingMessages);
}

void Form1::showReplies(const QList<LineEvent> &events) {
  for (const LineEvent &event : events)
    if (event.kind == LineEvent::Kind::Reply)
      ui->Label5->setText(replyText(event.bytes));
  showBox(boxText(events, replies_.repliesWaiting()));
}

void Form1::showWaitingMessages() {
  showScheduled_ = false;
  while (!boxOpen_) {
    if (replies_.hasWaiting()) {
      showReplies(replies_.take(boxLineLimit));
    } else if (lineFault_) {
      const Failure fault = *std::exchange(lineFault_, std::nullopt);
      showBox(failureText(fault));
    } else {
      return;
    }
  }
}
