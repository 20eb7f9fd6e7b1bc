#include "probe.h"

#include "clock.h"
#include "device.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr int warmUpSamples = 3;
constexpr int sampleTimeoutMs = 2000;

// The reply the device sends in every reply sample, and the text its box must show: bytes 1
// to 11.
QByteArray probeReply() { return QByteArrayLiteral("#ID01-OK-V20"); }
QString probeReplyText() { return QStringLiteral("ID01-OK-V20"); }

// Runs the event loop for a while; the samples start from a quiet program, as a click or a
// reply does in use.
void settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

long contextSwitches() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

// Notes when a message box is shown, dismisses it as soon as it is up and then ends the
// event loop that waits for it.
class BoxWatcher : public QObject {
public:
  explicit BoxWatcher(QEventLoop &waiting) : waiting_(waiting) { qApp->installEventFilter(this); }

  long long shownAtNs = 0;
  bool dismissed = false;
  QString text;

protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    auto *box = qobject_cast<QMessageBox *>(watched);
    if (!box || event->type() != QEvent::Show)
      return false;
    shownAtNs = monotonicNs();
    text = box->text();
    QTimer::singleShot(0, box, [box, this] {
      box->done(QMessageBox::Ok);
      dismissed = true;
      waiting_.quit();
    });
    return false;
  }

private:
  QEventLoop &waiting_;
};

class Probe {
public:
  explicit Probe(Subject &subject)
      : subject_(subject), device_([this](const QByteArray &frame, long long readAt) {
          // Handed to the main thread, where the samples are taken.
          QMetaObject::invokeMethod(
              &loop_,
              [this, frame, readAt] {
                frame_ = frame;
                frameReadAtNs_ = readAt;
                loop_.quit();
              },
              Qt::QueuedConnection);
        }) {
    timeout_.setSingleShot(true);
    timeout_.setInterval(sampleTimeoutMs);
    QObject::connect(&timeout_, &QTimer::timeout, &loop_, &QEventLoop::quit);
  }

  bool open() {
    subject_.openPort(device_.path());
    settle(200);
    return subject_.portOpen();
  }

  bool latency(int samples) {
    const QList<QAbstractButton *> buttons = subject_.commandButtons();
    QList<long long> sends;
    for (int i = 0; i < warmUpSamples + samples; ++i) {
      settle(10);
      const long long clickedAt = monotonicNs();
      frame_.clear();
      buttons.at(i % buttons.size())->click();
      if (!waitUntil([this] { return frame_.endsWith('\r'); }))
        return fail("no frame reached the device after a click");
      sends.append(frameReadAtNs_ - clickedAt);
    }
    QList<long long> replies;
    BoxWatcher watcher(loop_);
    for (int i = 0; i < warmUpSamples + samples; ++i) {
      watcher.shownAtNs = 0;
      watcher.dismissed = false;
      device_.write(probeReply().first(replyLastByte));
      settle(20);
      if (watcher.shownAtNs)
        return fail("a box came up before the reply was complete");
      device_.writeFromDevice(probeReply().sliced(replyLastByte));
      if (!waitUntil([&watcher] { return watcher.dismissed; }))
        return fail("no box came up for a reply");
      if (!watcher.text.startsWith(probeReplyText()))
        return fail("the box showed something other than the reply");
      replies.append(watcher.shownAtNs - device_.lastWriteNs());
    }
    print("send", sends.mid(warmUpSamples));
    print("reply", replies.mid(warmUpSamples));
    return true;
  }

  bool idle(int ms) {
    settle(500);
    const long long cpuBefore = processCpuNs();
    const long switchesBefore = contextSwitches();
    settle(ms);
    std::printf("idle %lld %ld\n", processCpuNs() - cpuBefore, contextSwitches() - switchesBefore);
    return subject_.portOpen() || fail("the port closed while idle");
  }

private:
  static constexpr qsizetype replyLastByte = 11;

  // Runs the event loop until done() holds, for at most sampleTimeoutMs.
  template <typename Done> bool waitUntil(Done done) {
    timeout_.start();
    while (!done() && timeout_.isActive())
      loop_.exec();
    timeout_.stop();
    return done();
  }

  static void print(const char *what, const QList<long long> &samples) {
    for (long long ns : samples)
      std::printf("%s %lld\n", what, ns);
  }

  static bool fail(const char *why) {
    std::fprintf(stderr, "probe: %s\n", why);
    return false;
  }

  Subject &subject_;
  QEventLoop loop_;
  QTimer timeout_;
  QByteArray frame_;
  long long frameReadAtNs_ = 0;
  Device device_;
};

} // namespace

int runProbe(const QStringList &arguments, Subject &subject) {
  const QString mode = arguments.value(1);
  const int count = arguments.value(2).toInt();
  if ((mode != QLatin1String("latency") && mode != QLatin1String("idle")) || count <= 0) {
    std::fprintf(stderr, "usage: probe latency SAMPLES | probe idle MILLISECONDS\n");
    return 2;
  }
  Probe probe(subject);
  if (!probe.open()) {
    std::fprintf(stderr, "probe: the port did not open\n");
    return 1;
  }
  const bool ok = mode == QLatin1String("latency") ? probe.latency(count) : probe.idle(count);
  std::fflush(stdout);
  return ok ? 0 : 1;
}
