// Latency and idle probe of the program's window, driven through its controls as an operator
// would, with a pseudo-terminal behind COM1.
#include "probe.h"
#include "serial/serialport.h"
#include "window/form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>

namespace {

class FormSubject : public Subject {
public:
  void openPort(const QString &devicePath) override {
    form_.MSComm1().setDeviceResolver(
        [devicePath](int comNumber) { return comNumber == 1 ? devicePath : QString(); });
    form_.show();
    setText<QComboBox>("Combo1", QStringLiteral("COM1"));
    setText<QComboBox>("Combo2", QStringLiteral("9600"));
    setText<QComboBox>("Combo3", QStringLiteral("None"));
    setText<QLineEdit>("Text1", QStringLiteral("7"));
    setText<QLineEdit>("Text2", QStringLiteral("A1B2用户"));
    form_.findChild<QAbstractButton *>(QStringLiteral("Command6"))->click();
  }

  bool portOpen() override { return form_.MSComm1().PortOpen(); }

  QList<QAbstractButton *> commandButtons() override {
    QList<QAbstractButton *> buttons;
    for (const char *name : {"Command3", "Command1", "Command4", "Command5"})
      buttons.append(form_.findChild<QAbstractButton *>(QLatin1String(name)));
    return buttons;
  }

private:
  template <typename Control> void setText(const char *name, const QString &text) {
    auto *control = form_.findChild<Control *>(QLatin1String(name));
    if constexpr (std::is_same_v<Control, QComboBox>)
      control->setEditText(text);
    else
      control->setText(text);
  }

  Form1 form_;
};

} // namespace

int main(int argc, char *argv[]) {
  QApplication app(argc, argv);
  FormSubject subject;
  return runProbe(app.arguments(), subject);
}
