#include "window/portclosing.h"

#include "serial/serialport.h"
#include "window/messagebox.h"

#include <QProgressDialog>
#include <QPushButton>

QString framesLeavingText(qint64 frames) {
  return QStringLiteral("正在发送剩余的 %1 帧，发完后关闭串口。\n"
                        "%1 frames are still leaving; the port closes once they have left.")
      .arg(frames);
}

PortClosing::PortClosing(SerialPort &port, QWidget *window)
    : QObject(window), port_(port), window_(window) {
  boxAfter_.setSingleShot(true);
  boxAfter_.setInterval(boxAfterMs);
  connect(&boxAfter_, &QTimer::timeout, this, &PortClosing::Leaving_Show);
  connect(&port_, &SerialPort::Leaving, this, &PortClosing::MSComm1_Leaving);
  connect(&port_, &SerialPort::Closed, this, &PortClosing::MSComm1_Closed);
}

void PortClosing::start(std::function<void()> then) {
  then_.push_back(std::move(then));
  if (then_.size() > 1)
    return;
  discarded_ = false;
  boxAfter_.start();
  port_.closeWhenLeft();
}

void PortClosing::MSComm1_Leaving(qint64 frames) {
  leaving_ = frames;
  if (box_) {
    box_->setLabelText(framesLeavingText(frames));
    box_->setValue(int(qMax<qint64>(0, box_->maximum() - frames)));
  }
}

// Not modal for the application: the window's own notifications go on. Modal for the window, so
// that no command is pressed into a port that is closing.
void PortClosing::Leaving_Show() {
  box_ = new QProgressDialog(framesLeavingText(leaving_), QStringLiteral("丢弃 Discard"), 0,
                             int(qMax<qint64>(leaving_, 1)), window_);
  box_->setWindowTitle(applicationTitle());
  box_->setWindowModality(Qt::WindowModal);
  box_->setAutoClose(false);
  box_->setAutoReset(false);
  box_->setMinimumDuration(0);
  box_->setValue(0);
  connect(box_, &QProgressDialog::canceled, this, &PortClosing::Discard_Click);
  box_->show();
}

void PortClosing::Discard_Click() {
  discarded_ = true;
  port_.discardUnsent();
}

// Told from the event loop rather than from inside the port's notification, and only then does
// the caller go on; until then the close is still under way.
void PortClosing::MSComm1_Closed(qint64 framesNotLeft) {
  if (then_.empty())
    return;
  boxAfter_.stop();
  if (box_)
    box_->deleteLater();
  const QString text =
      discarded_ ? SerialPort::notSentText(framesNotLeft) : SerialPort::notLeftText(framesNotLeft);
  QTimer::singleShot(0, this, [this, framesNotLeft, text] {
    if (framesNotLeft > 0)
      showMessageBox(window_, text);
    for (const auto &next : std::exchange(then_, {}))
      next();
  });
}
