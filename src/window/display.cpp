#include "window/display.h"

#include <QGuiApplication>
#include <QList>
#include <utility>

namespace {

struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};

QList<HeldMessage> heldMessages;
QtMessageHandler passOn = nullptr;

void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &text) {
  heldMessages.append({type, QByteArray(context.category), text});
}

// Without a Wayland socket Qt's choice on these systems is the X server. Windows and macOS
// always have their display; a platform the operator asked for is left as it is.
bool qtWouldChooseTheXServer(int argc, char *argv[]) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
  for (int i = 1; i < argc; ++i)
    if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
      return false;
  return qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
         qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
  Q_UNUSED(argc);
  Q_UNUSED(argv);
  return false;
#endif
}

const char *const lastResort = "offscreen";

} // namespace

DisplayFallback::DisplayFallback(int argc, char *argv[]) {
  if (!qtWouldChooseTheXServer(argc, argv))
    return;
  qputenv("QT_QPA_PLATFORM", QByteArray("xcb;") + lastResort);
  passOn = qInstallMessageHandler(holdMessage);
  armed_ = true;
}

bool DisplayFallback::noDisplay() {
  if (!armed_)
    return false;
  armed_ = false;
  // Programs started from this one choose their platform for themselves.
  qunsetenv("QT_QPA_PLATFORM");
  qInstallMessageHandler(passOn);
  const QList<HeldMessage> held = std::exchange(heldMessages, {});
  if (QGuiApplication::platformName() == QLatin1String(lastResort))
    return true;
  for (const HeldMessage &message : held)
    qt_message_output(message.type,
                      QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
                      message.text);
  return false;
}

QString noDisplayText() {
  return QStringLiteral(
      "没有可显示窗口的显示器。No display to show the window on: run qelnor-setup "
      "on a desktop, or under xvfb-run.");
}
