// Measures how long the window's thread is held up while the window closes with a deep queue at
// 1200 baud. The device is a pseudo-terminal made to look like a UART at 1200 baud (the tests'
// stand-in for the C library's calls, which makes each tcdrain take the line time of what was
// written): frames are pressed in until the port refuses more, the window is closed, the frames
// leave for a few seconds, and then the operator discards the rest from the box that counts them.
// A timer of 1 ms on the window's thread notes the longest gap between its ticks: the longest
// stall of the event loop.
// Prints one line. Not a test: nothing here passes or fails.
//   bench-close [LEAVING_MS]      how long the frames leave before the discard, 3000 by default
#include "../tests/support/linecalls.h"
#include "clock.h"
#include "serial/serialport.h"
#include "window/form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr long microsPerByte = 8334; // 1200 baud, 10 bits a character

// The device's side: reads what comes.
class Device {
public:
  Device() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0)
      std::exit(2);
    path_ = QString::fromLocal8Bit(name);
  }
  ~Device() {
    stopping_ = true;
    if (reader_.joinable())
      reader_.join();
    ::close(master_);
    ::close(slave_);
  }
  QString path() const { return path_; }
  void startReading() {
    reader_ = std::thread([this] {
      char chunk[4096];
      while (!stopping_) {
        pollfd fd{master_, POLLIN, 0};
        if (::poll(&fd, 1, 50) > 0 && (fd.revents & POLLIN))
          (void)!::read(master_, chunk, sizeof chunk);
      }
    });
  }

private:
  int master_ = -1;
  int slave_ = -1;
  QString path_;
  std::atomic<bool> stopping_ = false;
  std::thread reader_;
};

} // namespace

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  const int leavingMs = argc > 1 ? std::atoi(argv[1]) : 3000;
  Device device;
  device.startReading();
  lineCallsWatch(QFile::encodeName(device.path()).constData());
  lineCallsPace(microsPerByte);
  Form1 form;
  form.MSComm1().setDeviceResolver(
      [&device](int comNumber) { return comNumber == 1 ? device.path() : QString(); });
  form.show();
  form.findChild<QComboBox *>(QStringLiteral("Combo1"))->setEditText(QStringLiteral("COM1"));
  form.findChild<QComboBox *>(QStringLiteral("Combo2"))->setEditText(QStringLiteral("1200"));
  form.findChild<QComboBox *>(QStringLiteral("Combo3"))->setEditText(QStringLiteral("None"));
  form.findChild<QAbstractButton *>(QStringLiteral("Command6"))->click();
  SerialPort &port = form.MSComm1();
  if (!port.PortOpen()) {
    std::fprintf(stderr, "bench-close: the port did not open\n");
    return 1;
  }
  // Frames until the port refuses more, as an operator pressing a button again and again would
  // have them; the line fills first.
  for (int i = 0; i < 100000; ++i) {
    try {
      port.Output(QByteArrayLiteral("@Power on lock enable\r"));
    } catch (const Failure &) {
      break;
    }
    QCoreApplication::processEvents();
  }
  const qint64 frames = port.framesLeaving();

  long long longestGapNs = 0;
  long long lastTickNs = monotonicNs();
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const long long now = monotonicNs();
    longestGapNs = qMax(longestGapNs, now - lastTickNs);
    lastTickNs = now;
  });
  tick.start(1);
  QElapsedTimer closing;
  closing.start();
  QTimer::singleShot(leavingMs, [&form] {
    if (auto *box = form.findChild<QProgressDialog *>())
      box->findChild<QPushButton *>()->click();
  });
  QTimer::singleShot(0, &form, &QWidget::close);
  // The box that tells of the discarded frames is dismissed at once.
  QTimer dismiss;
  QObject::connect(&dismiss, &QTimer::timeout, [] {
    if (QWidget *box = QApplication::activeModalWidget();
        box && !qobject_cast<QProgressDialog *>(box))
      box->close();
  });
  dismiss.start(10);
  while (form.isVisible() || port.PortOpen())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  std::printf("| close with %lld frames waiting at 1200 baud, discarded after %d ms | longest "
              "event-loop stall %.1f ms | close took %.1f s | target ≤ 100 ms | %s |\n",
              frames, leavingMs, (longestGapNs - 1'000'000) / 1e6, closing.elapsed() / 1000.0,
              longestGapNs - 1'000'000 <= 100'000'000 ? "yes" : "**no**");
  return 0;
}
