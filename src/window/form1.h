#pragma once

#include "device/backlog.h"
#include "device/failure.h"
#include "device/frames.h"
#include "serial/devicemap.h"
#include "window/openingkey.h"

#include <QMap>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

namespace Ui {
class Form1;
}
class CommandOutcomes;
class PortClosing;
class RecordFile;
struct RecordLine;
class SerialPort;
class QComboBox;
class QLineEdit;
class QPushButton;

// The program's only window. Each handler is named after its control and event. A failure
// in a handler is shown in a message box and stops that handler only; the window goes on.
class Form1 : public QWidget {
  Q_OBJECT

public:
  explicit Form1(QWidget *parent = nullptr);
  ~Form1() override;

  SerialPort &MSComm1() { return *comm_; }
  // Devices the COM entries stand for in place of the system's (the command line's --com).
  void setComDevices(const QMap<int, QString> &devices) { comDevicesGiven_ = devices; }
  // The record the command line's --record opened: every frame and what came of it go into it,
  // each line on the disk before the next frame is handed to the system.
  void keepRecord(std::unique_ptr<RecordFile> record);

  // How long stray bytes wait for a reply to be told with before they are told alone.
  static constexpr int strayAloneMs = 1000;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;
  void closeEvent(QCloseEvent *event) override;

private:
  void applyFonts();
  void applyPalette();
  void applyEntryPalettes();
  void connectHandlers();
  void Form_Load();
  void Form_Unload();

  void Text1_GotFocus(Qt::FocusReason reason);
  void Text1_MouseUp();
  void Text1_KeyPress_Return();
  void Text2_KeyPress_Return();
  void entryRefused(QLineEdit *box);
  void Command6_Click();
  void Command3_Click();
  void Command1_Click();
  void Command4_Click();
  void Command5_Click();
  void Command2_Click();
  void send(DeviceCommand command, const QString &argument = {});
  void List_KeyDown(QComboBox *list);
  void Combo1_DropDown();
  void Combo1_Highlighted(int index);
  void Combo1_ToolTip(const QPoint &globalPosition);
  void MSComm1_OnComm();
  void MSComm1_EarlierReply(const QByteArray &block);
  void MSComm1_StrayDropped(const QByteArray &bytes);
  void MSComm1_StrayUnanswered();
  void MSComm1_Failed(const Failure &failure);
  void MSComm1_FrameLeft(const QByteArray &frame);
  void Outcomes_Happened(const RecordLine &line);
  void Note_Changed(const QWidget *note, bool shown);
  void recordFailed(const QString &problem);
  void ClosePort_Click();

  // Runs a handler's work; a Failure it raises is reported and ends only that work.
  template <typename Work> void guarded(Work work);
  void limitEntry(QLineEdit *box);
  void receiveReply(const QByteArray &block);
  void pressIfEnabled(QPushButton *button, QLineEdit *from);
  void setPortOpenedControls(bool opened);
  // Returns whether the operator closed the port from the box (offered when offerClose).
  bool showBox(const QString &text, bool offerClose = false);
  void scheduleWaitingMessages();
  void showReplies(const QList<LineEvent> &events);
  void showWaitingMessages();
  QList<ComDevice> comDevices(int count) const;

  std::unique_ptr<Ui::Form1> ui;
  SerialPort *comm_;
  PortClosing *closing_;
  CommandOutcomes *outcomes_;
  std::unique_ptr<RecordFile> record_;
  // Why the record could not be written, once it could not: nothing more is sent.
  QString recordProblem_;
  std::optional<QString> recordFault_;
  QMap<int, QString> comDevicesGiven_;
  // Replies, stray bytes and a line fault that arrive while a box is open wait here and are
  // shown in order, once the operator has dismissed the box before: the replies waiting then
  // share one box, the fault comes after them.
  ReplyBacklog replies_;
  std::optional<Failure> lineFault_;
  std::optional<LineEvent> strayAtClose_;
  // Stray bytes that no reply followed within strayAloneMs get a line of their own.
  QTimer strayWait_;
  bool boxOpen_ = false;
  // Something came from the line while a box was open: the next box of replies follows another.
  bool arrivedDuringBox_ = false;
  OpeningKey openingKey_;
  bool applyingPalette_ = false;
  bool showScheduled_ = false;
};
