#pragma once

#include "device/failure.h"
#include "serial/devicemap.h"
#include "serial/hangupwatch.h"
#include "serial/linesettings.h"
#include "serial/transmitter.h"

#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

class LeaveWatch;

// The program's one serial port, with the operations its logic relies on under their
// familiar names. Operations that fail raise a Failure; a fault of the line while the port is
// open (the device hung up: a USB adapter pulled, a pseudo-terminal's other side closed; or a
// write that failed) closes the port and is reported once through Failed, after the complete
// reply blocks already received. The modem lines are not watched (Qt opens the line as local),
// so a cable cut behind the adapter, or a device switched off, is only silence. A line that cannot
// take bytes right now is no fault: frames wait and go out in order, each handed to the system
// only when it takes the frame whole, so that no frame reaches the device in part.
//
// A frame has left once its last bit is off the line: the system's queue and the transmitter
// behind it are empty. Only then does the port close or put its settings back, and only then is
// a frame told as sent (FrameLeft, waitUntilSent).
//
// A device sends a reply block back to back. Bytes short of a block that are followed by
// silence longer than strayGapMs() are stray (line noise, a boot banner): they are dropped and
// reported through StrayDropped, so that one burst of noise cannot shift every later block.
// Bytes that arrived while a frame was still waiting to leave cannot answer it: a block that
// begins with them is an earlier frame's reply (or an earlier program's) and comes through
// EarlierReply instead of OnComm.
class SerialPort : public QObject {
  Q_OBJECT

public:
  static constexpr int comEvReceive = 2;
  static constexpr int comInputModeBinary = 1;
  // Output refuses a frame while more than this waits to be sent, about what a UART driver
  // buffers: a frame goes out whole or not at all, never cut short by a full line.
  static constexpr qint64 outputBound = 4096;

  // Where the frames handed to the system are on their way out.
  enum class OutputState {
    Closed,
    Idle,         // everything handed over has left the line
    Handing,      // a frame is being written: a write the line cannot take yet is no fault
    Queued,       // frames handed over are in the system's queue
    Transmitting, // the queue is empty; the transmitter is sending its last bytes
    Stuck,        // the transmitter did not empty in time: its frames count as not sent
    Closing,      // the port is closing: what it raises now is the closing's own
  };

  // Maps a COM number to the device it stands for; empty when there is none.
  using DeviceResolver = std::function<QString(int comNumber)>;

  explicit SerialPort(QObject *parent = nullptr);
  // What is on its way out leaves before the port closes; nobody is told anything any more.
  ~SerialPort() override;

  // Tests put a pseudo-terminal behind a COM number with this; without it the system's
  // devices are used.
  void setDeviceResolver(DeviceResolver resolver);
  // The devices behind COM1 to COM<count>, from one scan of the system.
  QList<ComDevice> comDevices(int count) const;

  // A device opened as named, such as /dev/ttyUSB0 or a Windows port past COM15, in place of
  // the device behind the COM number.
  void setGivenDevice(const QString &device) { givenDevice_ = device; }

  int CommPort() const { return commPort_; }
  void setCommPort(int comNumber);

  QString Settings() const { return settings_; }
  // Raises InvalidPropertyValue for a malformed string and keeps the settings in force.
  void setSettings(const QString &settings);

  bool PortOpen() const { return port_.isOpen(); }
  // Opening raises InvalidPortNumber, PortAlreadyOpen, PermissionDenied or CannotSetCommState;
  // a device another program holds exclusively is refused (PortAlreadyOpen) even for root.
  // Closing gives up the frames still waiting, lets what the transmitter holds leave (at most
  // its line time plus a margin) and then puts back the line settings found at opening.
  void setPortOpen(bool open);

  OutputState outputState() const { return output_; }

  qint64 InBufferCount() const;
  // Bytes not yet sent: the frames waiting in the program and what the driver still holds.
  qint64 OutBufferCount() const;
  // Frames that have not left yet, waiting here or on their way out.
  qint64 framesLeaving() const { return waiting_.size() + inLine_.size(); }
  // Only 0 is meaningful: it discards what is waiting (output: this program's frames).
  void setInBufferCount(int count);
  void setOutBufferCount(int count);

  int InputMode() const { return comInputModeBinary; }
  // Reads always deliver bytes; any other mode is an InvalidPropertyValue.
  void setInputMode(int mode);

  int RThreshold() const { return rThreshold_; }
  // A receive event is raised while at least this many bytes wait; 0 raises none.
  void setRThreshold(int count);

  // The silence that ends a run of stray bytes, strayGapMs() of the line from each opening on.
  // Tests set it to drive that silence themselves instead of sleeping through it.
  void setStrayGapMs(int ms) { strayTimer_.setInterval(ms); }

  int SThreshold() const { return 0; }
  // This port raises no send events, so 0 is the only value it takes.
  void setSThreshold(int count);

  // Blocks until the frames waiting and on their way out have left the line, and tells whether
  // they have: at most the line time of what waits plus a margin, and less when the device takes
  // nothing for a while (it has stopped reading). A fault of the line met meanwhile closes the
  // port and is reported through Failed before this returns. For a program with nothing else to
  // do meanwhile; the window uses closeWhenLeft.
  bool waitUntilSent();
  // Gives up the frames that have not left whole (after waitUntilSent, or before closing): they
  // are discarded, so that nothing of them reaches the device later, and counted. During
  // closeWhenLeft the port then closes as soon as the transmitter is empty.
  qint64 discardUnsent();
  // Gives up only the frames not handed to the system yet, and counts them: the one on its way
  // out still leaves whole.
  qint64 discardWaiting();
  // How a program that may block ends a run on the port: waits for what is on its way out,
  // gives up and counts what cannot leave, and closes. Returns the frames that did not leave.
  // A fault met while closing is not reported: the port is being closed anyway.
  qint64 closeWhenSent();
  // The same without blocking: Leaving tells, every few milliseconds, how many frames have still
  // to leave; Closed follows once the port has closed, with the frames that did not leave.
  // Output is refused meanwhile.
  void closeWhenLeft();
  bool closingWhenLeft() const { return pendingClose_ != nullptr; }

  // Sends the bytes unchanged and at once. Raises PortNotOpen on a closed port (or one closing),
  // and TransmitBufferFull without sending anything while more than outputBound waits.
  void Output(const QByteArray &bytes);

  // Takes the waiting bytes, at most RThreshold of them when a threshold is set, so that one
  // read takes one reply block and what stays waiting raises the next receive event.
  QByteArray Input();

  int CommEvent() const { return commEvent_; }

  // The words that tell the operator how many frames did not leave, in both programs.
  static QString notSentText(qint64 frames);
  // The same, for frames given up because the device stopped reading.
  static QString notLeftText(qint64 frames);
  // The words for a reply block that came while the frame sent after it was still leaving.
  static QString earlierReplyText(const QString &replyText);

signals:
  void OnComm();
  void Failed(const Failure &failure);
  void StrayDropped(const QByteArray &bytes);
  // A whole block that began to arrive before the frame sent last had left: it answers an earlier
  // frame, never that one.
  void EarlierReply(const QByteArray &block);
  // A frame's last bit has left the line, in the order the frames were given to Output. The next
  // frame is handed to the system only after this has been told.
  void FrameLeft(const QByteArray &frame);
  void Leaving(qint64 frames);
  void Closed(qint64 framesNotLeft);

private:
  // Moves the frames on their way out as far as the line lets them now, without blocking.
  void moveOutput();
  void handWaitingFrames();
  void outputTick();
  bool frameOnItsWay() const;
  qint64 inputHeld() const;
  // The wait of waitUntilSent and of closing: true once all has left, false when the device took
  // nothing for a while, the time was over or the line failed (told when tellFault).
  bool waitForOutput(bool tellFault);
  // Waits about ms for the line without running the event loop: Qt's own buffer is handed on as
  // the system takes it, and what arrives is taken in at once, since a hang-up empties what the
  // system holds for the program and a device that answers and hangs up would lose its answer.
  // Its receive events follow from the event loop, or from the fault that ends the wait.
  void waitForLine(int ms);
  qint64 dropUnsent();
  void closePort();
  // Closes the device at once and forgets what was on its way.
  void closeDevice();
  void finishClose();
  qint64 bytesInDriver() const;
  // The bytes of the frames that have not left yet, wherever they are.
  qint64 bytesLeaving() const;
  qint64 framesInDriver() const;
  qint64 characterTime() const;
  void raiseReceiveEvents();
  void dropStrayBytes();
  void handleError(QSerialPort::SerialPortError error);
  void closeOnLineFault(bool hungUp);
  void open();
  QString comName() const;
  QString tried() const;

  QSerialPort port_;
  HangUpWatch hangUpWatch_;
  QTimer strayTimer_;
  OutputState output_ = OutputState::Closed;
  // Whole frames the system has not been handed yet, and those it has been handed that have not
  // been seen to leave.
  QList<QByteArray> waiting_;
  QList<QByteArray> inLine_;
  Transmitter transmitter_;
  // Whether the device has a transmitter to see empty (a UART), found at opening.
  bool transmitterBehind_ = true;
  QTimer outputTimer_;
  // Set while closeWhenLeft waits for the frames to leave.
  std::unique_ptr<LeaveWatch> pendingClose_;
  // Bytes at the head of the input that arrived while a frame was on its way out.
  qint64 earlier_ = 0;
  std::optional<DeviceResolver> resolver_;
  QString device_;
  QString givenDevice_;
  int commPort_ = 1;
  QString settings_ = QStringLiteral("9600,n,8,1");
  int rThreshold_ = 0;
  int commEvent_ = 0;
};
