#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// The device at the far end of the line: the master side of a pseudo-terminal, served by its
// own thread so that the program's thread sleeps in its event loop as it would with hardware.
class Device {
public:
  // Called on the device's thread for each frame received (bytes up to and including a CR),
  // with the time at which its last byte was read from the line.
  using FrameHandler = std::function<void(const QByteArray &frame, long long readAtNs)>;

  explicit Device(FrameHandler onFrame);
  ~Device();
  Device(const Device &) = delete;
  Device &operator=(const Device &) = delete;

  // The path the program opens.
  QString path() const { return path_; }

  // Writes at once, from the caller's thread.
  void write(const QByteArray &bytes);
  // Has the device's thread write the bytes; returns at once. The time taken just before the
  // write is then available from lastWriteNs().
  void writeFromDevice(const QByteArray &bytes);
  long long lastWriteNs() const { return lastWriteNs_; }

private:
  void serve();

  int master_ = -1;
  int slave_ = -1;
  int wake_[2] = {-1, -1};
  QString path_;
  FrameHandler onFrame_;
  std::mutex mutex_;
  QByteArray toWrite_;
  bool stopping_ = false;
  std::atomic<long long> lastWriteNs_{0};
  std::thread thread_;
};
