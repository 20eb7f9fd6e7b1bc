#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <vector>

class QProgressDialog;
class QWidget;
class SerialPort;

// Closes the window's port without holding up the window: the frames on their way out leave
// first, at the line's pace, which at 1200 baud can take half a minute for a deep queue. A close
// that takes longer than a moment shows a box that counts the frames still leaving and offers to
// discard them; the window stays live meanwhile. Frames that did not leave are told in a box of
// their own once the port has closed, and then the caller goes on.
class PortClosing : public QObject {
  Q_OBJECT

public:
  PortClosing(SerialPort &port, QWidget *window);

  // Starts the close, or joins the one under way; then follows once the port has closed.
  void start(std::function<void()> then);
  bool underWay() const { return !then_.empty(); }

  // How long a close may take before the box comes up.
  static constexpr int boxAfterMs = 100;

private:
  void MSComm1_Leaving(qint64 frames);
  void MSComm1_Closed(qint64 framesNotLeft);
  void Leaving_Show();
  void Discard_Click();

  SerialPort &port_;
  QWidget *window_;
  QTimer boxAfter_;
  QPointer<QProgressDialog> box_;
  qint64 leaving_ = 0;
  bool discarded_ = false;
  std::vector<std::function<void()>> then_;
};

// The box's words: how many frames are still leaving.
QString framesLeavingText(qint64 frames);
