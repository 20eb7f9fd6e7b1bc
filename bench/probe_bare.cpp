// The baseline for the latency and idle probes: a bare Qt program with one button that writes
// a frame to a QSerialPort, and a message box for each 12 bytes that arrive.
#include "probe.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QVBoxLayout>

namespace {

class BareSubject : public Subject {
public:
  BareSubject() : send_(QStringLiteral("Send"), &window_) {
    auto *layout = new QVBoxLayout(&window_);
    layout->addWidget(&send_);
    QObject::connect(&send_, &QPushButton::clicked, [this] {
      port_.write("ID07\r");
      port_.flush();
    });
    QObject::connect(&port_, &QSerialPort::readyRead, [this] {
      while (port_.bytesAvailable() >= 12) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("bare"),
                        QString::fromLatin1(port_.read(12).sliced(1)), QMessageBox::Ok, &window_);
        box.exec();
      }
    });
  }

  void openPort(const QString &devicePath) override {
    window_.show();
    port_.setPortName(devicePath);
    port_.setBaudRate(9600);
    port_.setParity(QSerialPort::NoParity);
    port_.open(QIODevice::ReadWrite);
  }

  bool portOpen() override { return port_.isOpen(); }

  QList<QAbstractButton *> commandButtons() override { return {&send_}; }

private:
  QWidget window_;
  QPushButton send_;
  QSerialPort port_;
};

} // namespace

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  BareSubject subject;
  return runProbe(app.arguments(), subject);
}
