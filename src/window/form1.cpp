#include "window/form1.h"

#include "common/record.h"
#include "device/frames.h"
#include "device/replytext.h"
#include "serial/openport.h"
#include "serial/serialport.h"
#include "ui_form1.h"
#include "window/appearance.h"
#include "window/commandoutcomes.h"
#include "window/entrynotes.h"
#include "window/messagebox.h"
#include "window/outcomestrip.h"
#include "window/portclosing.h"
#include "window/portcombobox.h"
#include "window/quitonsignal.h"
#include "window/startup.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QTextStream>
#include <QTimer>
#include <QToolTip>
#include <limits>

namespace {

void fill(QComboBox *box, const QStringList &items) {
  const QString designText = box->currentText();
  box->addItems(items);
  box->setCurrentIndex(-1);
  box->setEditText(designText);
}

// A flood of replies is shown a screenful at a time rather than in a box per reply.
constexpr qsizetype boxLineLimit = 16;

// The window is a frame to assistive technologies, as top-level windows are, not a filler
// (the role Qt gives a plain widget).
QAccessibleInterface *windowAccessible(const QString &className, QObject *object) {
  if (className == QLatin1String("Form1") && object->isWidgetType())
    return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
  return nullptr;
}

// Before the window and its controls are made, so that they are made in the readable palette.
QWidget *afterReadableStyle(QWidget *parent) {
  useReadableStyle();
  makeGivenPaletteReadable();
  return parent;
}

} // namespace

Form1::Form1(QWidget *parent)
    : QWidget(afterReadableStyle(parent)), ui(std::make_unique<Ui::Form1>()),
      comm_(new SerialPort(this)), closing_(new PortClosing(*comm_, this)),
      outcomes_(new CommandOutcomes(this)) {
  comm_->setObjectName(QStringLiteral("MSComm1"));
  // Set before the controls exist, so that they are created and laid out in the Song face
  // once instead of in the default face first.
  setFont(songFont(9, QFont::Normal));
  static const bool windowIsAFrame = (QAccessible::installFactory(windowAccessible), true);
  Q_UNUSED(windowIsAFrame);
  ui->setupUi(this);
  setFixedSize(size());
  // A window that cannot grow offers no maximise button that would do nothing.
  setWindowFlag(Qt::WindowMaximizeButtonHint, false);
  applyFonts();
  applyEntryPalettes();
  connectHandlers();
  Form_Load();
  fitCaptions(*this);
}

Form1::~Form1() = default;

void Form1::keepRecord(std::unique_ptr<RecordFile> record) { record_ = std::move(record); }

void Form1::applyFonts() {
  ui->Text1->setFont(songFont(24, QFont::Bold));
  // The described face has 8-pixel columns, so the box shows a whole code; a wider stand-in
  // would scroll the start of a long code out of sight.
  ui->Text2->setFont(fittingColumns(fixedPitchFont(12), int(userCodeMaxLength),
                                    textAreaWidth(*ui->Text2), ui->Text2->logicalDpiY()));
}

void Form1::applyPalette() {
  const QScopedValueRollback applying(applyingPalette_, true);
  makeGivenPaletteReadable();
  applyEntryPalettes();
}

void Form1::applyEntryPalettes() {
  for (QLineEdit *entry : {ui->Text1, ui->Text2})
    entry->setPalette(entryPalette(QApplication::palette()));
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
  connect(comm_, &SerialPort::EarlierReply, this, &Form1::MSComm1_EarlierReply);
  connect(comm_, &SerialPort::Failed, this, &Form1::MSComm1_Failed);
  connect(comm_, &SerialPort::StrayDropped, this, &Form1::MSComm1_StrayDropped);
  connect(comm_, &SerialPort::FrameLeft, this, &Form1::MSComm1_FrameLeft);
  connect(comm_, &SerialPort::Closed, outcomes_, &CommandOutcomes::closed);
  connect(outcomes_, &CommandOutcomes::happened, this, &Form1::Outcomes_Happened);
  ui->Label9->setProperty(roomForNotes, true);
  strayWait_.setSingleShot(true);
  strayWait_.setInterval(strayAloneMs);
  connect(&strayWait_, &QTimer::timeout, this, &Form1::MSComm1_StrayUnanswered);
  for (QLineEdit *box : {ui->Text1, ui->Text2})
    limitEntry(box);
  connect(ui->Text1, &QLineEdit::returnPressed, this, &Form1::Text1_KeyPress_Return);
  connect(ui->Text2, &QLineEdit::returnPressed, this, &Form1::Text2_KeyPress_Return);
  ui->Text1->installEventFilter(this);
  qApp->installEventFilter(this);
}

// The theme can change while the window is up (a switch to a dark theme): the style makes the
// new palette readable, a palette given outright is made so here, and the entry boxes follow.
bool Form1::eventFilter(QObject *watched, QEvent *event) {
  // Presses that belong to the opening of the port reach nobody.
  if (openingKey_.drops(event, watched == ui->Command6))
    return true;
  if (watched == ui->Text1 && event->type() == QEvent::FocusIn)
    Text1_GotFocus(static_cast<QFocusEvent *>(event)->reason());
  if (watched == ui->Text1 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
    Text1_MouseUp();
  // A held Enter presses once, as a held button does: its repeats would each send a frame.
  if ((watched == ui->Text1 || watched == ui->Text2) && event->type() == QEvent::KeyPress) {
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->isAutoRepeat() && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter))
      return true;
  }
  if (event->type() == QEvent::Wheel ||
      (event->type() == QEvent::KeyPress &&
       QList{Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown}.contains(
           static_cast<QKeyEvent *>(event)->key())))
    for (QComboBox *list : {static_cast<QComboBox *>(ui->Combo1), ui->Combo2, ui->Combo3})
      if (watched == list || watched == list->lineEdit())
        List_KeyDown(list);
  if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange && !applyingPalette_)
    applyPalette();
  if (QList{QEvent::Show, QEvent::Move, QEvent::Hide}.contains(event->type()) &&
      watched->inherits("QTipLabel"))
    Note_Changed(static_cast<QWidget *>(watched), event->type() != QEvent::Hide);
  return QWidget::eventFilter(watched, event);
}

// Frames still on their way out leave before the port closes, the window live meanwhile; the
// window closes once the port has.
void Form1::closeEvent(QCloseEvent *event) {
  if (!quittingOnSignal() && (closing_->underWay() || comm_->framesLeaving() > 0)) {
    event->ignore();
    closing_->start([this] { close(); });
    return;
  }
  Form_Unload();
  QWidget::closeEvent(event);
}

void Form1::Form_Load() {
  // An editable box would otherwise complete a typed text to an entry as it is typed and keep
  // typed texts as new items; the lists are fixed, and opening reads the text the operator
  // left in each.
  for (QComboBox *box : {static_cast<QComboBox *>(ui->Combo1), ui->Combo2, ui->Combo3}) {
    box->setCompleter(nullptr);
    // The field inside the list is what a screen reader lands on; it bears the list's name.
    box->lineEdit()->setAccessibleName(box->accessibleName());
  }
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

// Frames a device that stopped reading never took are told as the window closes: a report, not
// a question, and closing goes on. When a signal ends the program nobody is there to click, so
// the report goes to standard error.
void Form1::Form_Unload() {
  const qint64 unsent = comm_->closeWhenSent();
  outcomes_->closed();
  if (unsent == 0)
    return;
  if (quittingOnSignal())
    QTextStream(stderr) << SerialPort::notLeftText(unsent) << Qt::endl;
  else
    showMessageBox(this, SerialPort::notLeftText(unsent));
}

// The address box holds two characters, so a digit typed after the one already there would
// be refused or pushed in beside it: whatever way the box is entered, its text is selected and
// typing replaces it. A click places the caret, so it is the click that selects (below); a
// context menu closing gives the focus back to the box it never left.
void Form1::Text1_GotFocus(Qt::FocusReason reason) {
  if (reason != Qt::MouseFocusReason && reason != Qt::PopupFocusReason)
    ui->Text1->selectAll();
}

// A click anywhere in the box, whether it had the focus or not, selects its text, unless the
// operator dragged across part of it to select that.
void Form1::Text1_MouseUp() {
  if (!ui->Text1->hasSelectedText())
    ui->Text1->selectAll();
}

// Enter in a box presses the update button beside it, unless it came right behind a keystroke
// or paste the box refused (EnterAfterRefusal).
void Form1::Text1_KeyPress_Return() { pressIfEnabled(ui->Command3, ui->Text1); }

void Form1::Text2_KeyPress_Return() { pressIfEnabled(ui->Command1, ui->Text2); }

void Form1::pressIfEnabled(QPushButton *button, QLineEdit *from) {
  if (!EnterAfterRefusal::enterMaySend(from))
    showNote(from, enterHeldNote());
  else if (button->isEnabled())
    button->click();
  else
    showNote(from, openPortFirstNote());
}

void Form1::limitEntry(QLineEdit *box) {
  box->setValidator(new LengthLimit(box->maxLength(), box));
  box->setMaxLength(std::numeric_limits<qint16>::max());
  new EnterAfterRefusal(box);
  connect(box, &QLineEdit::inputRejected, this, [this, box] { entryRefused(box); });
}

// A keystroke or paste the box does not take is never lost without a word.
void Form1::entryRefused(QLineEdit *box) {
  const auto *limit = static_cast<const LengthLimit *>(box->validator());
  if (box == ui->Text1)
    showNote(box, addressRefusedNote());
  else
    showNote(box, userCodeRefusedNote(limit->limit()));
}

// A list text that names no entry leaves what is in force; the operator is told so at once,
// in the box of a failed open or in a box of its own.
void Form1::Command6_Click() {
  openingKey_.buttonPressed();
  const QString port = ui->Combo1->currentText();
  const QString rate = ui->Combo2->currentText();
  const QString parity = ui->Combo3->currentText();
  const auto notUsed = [&](bool opened) {
    return choicesNotUsed(port, rate, parity, choicesInForce(comm_->CommPort(), comm_->Settings()),
                          opened);
  };
  comm_->setGivenDevice(
      comDevicesGiven_.value(comNumberFromName(port).value_or(comm_->CommPort())));
  try {
    OpenPort(*comm_, port, rate, parity);
  } catch (const Failure &failure) {
    comm_->setPortOpen(false);
    setPortOpenedControls(false);
    const QString note = notUsed(false);
    showBox(failureText(failure) + (note.isEmpty() ? QString() : QStringLiteral("\n\n") + note));
    return;
  }
  // The line can fail in the very moment after opening; the controls follow the port.
  setPortOpenedControls(comm_->PortOpen());
  if (record_) {
    const ChoiceTexts inForce = choicesInForce(comm_->CommPort(), comm_->Settings());
    record_->setLine(inForce.port, comm_->Settings());
  }
  if (const QString note = notUsed(true); !note.isEmpty())
    showBox(note);
}

void Form1::Command3_Click() { send(DeviceCommand::Address, ui->Text1->text()); }

void Form1::Command1_Click() { send(DeviceCommand::UserCode, ui->Text2->text()); }

void Form1::Command4_Click() { send(DeviceCommand::PowerOnLock); }

void Form1::Command5_Click() { send(DeviceCommand::ResetPassword); }

// Once the record cannot be written nothing more is sent: it would be known nowhere.
void Form1::send(DeviceCommand command, const QString &argument) {
  if (!recordProblem_.isEmpty()) {
    showBox(recordStoppedText(recordProblem_));
    return;
  }
  guarded([&] {
    const QByteArray frame = commandFrame(command, argument);
    comm_->Output(frame);
    outcomes_->handed(command, frame);
    showOutcome(*ui->Label9, leavingWords(), shownFrame(frame));
  });
}

void Form1::Command2_Click() {
  for (const QString &message : aboutMessages())
    showBox(message);
}

// The lists start with no item current, so an arrow key or the wheel would move from before
// the first item: Down in a list showing 2400 would show 1200. They move from the item shown.
void Form1::List_KeyDown(QComboBox *list) {
  if (const int shown = list->findText(list->currentText(), Qt::MatchExactly);
      list->currentIndex() < 0 && shown >= 0)
    list->setCurrentIndex(shown);
}

void Form1::Combo1_DropDown() {
  const QStringList tips = deviceTips(comDevices(ui->Combo1->count()));
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
  const QStringList tips = deviceTips(comDevices(highestComNumber));
  QToolTip::showText(globalPosition,
                     QStringLiteral("COM%1: %2").arg(comNumber).arg(tips.value(comNumber - 1)),
                     ui->Combo1);
}

void Form1::MSComm1_OnComm() {
  if (comm_->CommEvent() != SerialPort::comEvReceive)
    return;
  const QByteArray block = comm_->Input();
  outcomes_->reply(block, false);
  receiveReply(block);
}

// The reply to an earlier frame, come in while a later one was leaving, is shown as any reply,
// and told as that frame's.
void Form1::MSComm1_EarlierReply(const QByteArray &block) {
  outcomes_->reply(block, true);
  receiveReply(block);
}

void Form1::MSComm1_FrameLeft(const QByteArray &frame) { outcomes_->left(frame); }

// Called as each frame leaves, before the next is handed over: the record's line is on the disk
// before another frame can leave.
void Form1::Outcomes_Happened(const RecordLine &line) {
  if (const QString words = outcomeWords(line, QTime::currentTime(), outcomes_->waitMs());
      !words.isEmpty())
    showOutcome(*ui->Label9, words, shownFrame(line.frame));
  if (record_ && recordProblem_.isEmpty())
    if (const QString problem = record_->append(line); !problem.isEmpty())
      recordFailed(problem);
}

// Frames pressed but not handed to the system yet are given up; the one on its way out leaves.
void Form1::recordFailed(const QString &problem) {
  recordProblem_ = problem;
  const qint64 dropped = comm_->discardWaiting();
  outcomes_->discarded(dropped);
  recordFault_ = recordStoppedText(problem) +
                 (dropped > 0 ? QLatin1Char('\n') + SerialPort::notSentText(dropped) : QString());
  scheduleWaitingMessages();
}

// A note the operator must read covers the strip until it goes; the strip then shows what came
// of the last command, meanwhile too.
void Form1::Note_Changed(const QWidget *note, bool shown) {
  const QRect strip(ui->Label9->mapToGlobal(QPoint(0, 0)), ui->Label9->size());
  ui->Label9->setVisible(!shown || !QRect(note->pos(), note->size()).intersects(strip));
}

void Form1::receiveReply(const QByteArray &block) {
  replies_.push(block);
  arrivedDuringBox_ |= boxOpen_;
  // Stray bytes before it are told with it.
  strayWait_.stop();
  scheduleWaitingMessages();
}

void Form1::MSComm1_StrayDropped(const QByteArray &bytes) {
  outcomes_->stray(bytes);
  replies_.pushStray(bytes);
  arrivedDuringBox_ |= boxOpen_;
  // Counted from the first stray bytes of a run, so that noise that never stops is still told.
  if (!strayWait_.isActive())
    strayWait_.start();
}

// No reply came after stray bytes: they are told in a box of their own.
void Form1::MSComm1_StrayUnanswered() {
  if (replies_.releaseStray())
    scheduleWaitingMessages();
}

// Stray bytes still waiting for a reply are named in the box that tells of the closing.
void Form1::MSComm1_Failed(const Failure &failure) {
  outcomes_->lineFault(failure);
  strayWait_.stop();
  strayAtClose_ = replies_.lineClosed();
  setPortOpenedControls(false);
  lineFault_ = failure;
  scheduleWaitingMessages();
}

// Chosen in a box of replies that followed another: the port closes as it does when the window
// closes, and what still waits is counted in one last box rather than shown box after box.
void Form1::ClosePort_Click() {
  strayWait_.stop();
  closing_->start([this] {
    setPortOpenedControls(false);
    qint64 replies = 0;
    qint64 strayBytes = 0;
    if (const std::optional<LineEvent> stray = replies_.lineClosed())
      strayBytes += stray->strayBytes;
    while (replies_.hasWaiting()) {
      for (const LineEvent &event : replies_.take(boxLineLimit)) {
        replies += event.kind == LineEvent::Kind::Reply ? 1 : event.replies;
        strayBytes += event.strayBytes;
      }
    }
    showBox(closedWithWaitingText(replies, strayBytes));
  });
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

QList<ComDevice> Form1::comDevices(int count) const {
  return withDevicesGiven(comm_->comDevices(count), comDevicesGiven_);
}

bool Form1::showBox(const QString &text, bool offerClose) {
  boxOpen_ = true;
  bool close = false;
  if (offerClose)
    close = showMessageBoxOfferingClose(this, text);
  else
    showMessageBox(this, text);
  boxOpen_ = false;
  scheduleWaitingMessages();
  return close;
}

// Boxes are never opened inside the serial notification: a modal loop there would hold back
// the notification for bytes that arrive meanwhile.
void Form1::scheduleWaitingMessages() {
  if (showScheduled_ || (!replies_.hasWaiting() && !lineFault_ && !recordFault_))
    return;
  showScheduled_ = true;
  QTimer::singleShot(0, this, &Form1::showWaitingMessages);
}

void Form1::showReplies(const QList<LineEvent> &events) {
  for (const LineEvent &event : events)
    if (event.kind == LineEvent::Kind::Reply)
      ui->Label5->setText(replyText(event.bytes));
  const QString text =
      boxText(events, replies_.repliesWaiting(),
              (replies_.linesThroughLastCounted() + boxLineLimit - 1) / boxLineLimit,
              replies_.strayLinesWaiting());
  const bool followsABox = std::exchange(arrivedDuringBox_, false);
  if (showBox(text, followsABox && comm_->PortOpen()))
    ClosePort_Click();
}

// While the port closes, what comes in waits to be counted in the box that tells of the close.
void Form1::showWaitingMessages() {
  showScheduled_ = false;
  while (!boxOpen_ && !closing_->underWay()) {
    if (replies_.hasWaiting()) {
      showReplies(replies_.take(boxLineLimit));
    } else if (lineFault_) {
      const Failure fault = *std::exchange(lineFault_, std::nullopt);
      const std::optional<LineEvent> stray = std::exchange(strayAtClose_, std::nullopt);
      showBox(stray ? failureText(fault) + QLatin1Char('\n') + strayAtCloseText(*stray)
                    : failureText(fault));
    } else if (recordFault_) {
      showBox(*std::exchange(recordFault_, std::nullopt));
    } else {
      return;
    }
  }
}
