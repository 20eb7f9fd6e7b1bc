#include "window/display.h"

#include <QGuiApplication>
#include <QList>
#include <utility>

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
#include <QLibrary>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

struct HeldMessage {
  QtMsgType type;
  QByteArray category;
  QString text;
};

QList<HeldMessage> heldMessages;
QString firstComplaint;
QtMessageHandler passOn = nullptr;

void passOnMessage(const HeldMessage &message) {
  passOn(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category.constData()),
         message.text);
}

// Qt aborts after a fatal message, and after a warning or a critical one when asked to by its
// environment; such a message must reach the operator before that.
bool mayEndTheProgram(QtMsgType type) {
  switch (type) {
  case QtFatalMsg:
    return true;
  case QtCriticalMsg:
    return !qEnvironmentVariableIsEmpty("QT_FATAL_CRITICALS") ||
           !qEnvironmentVariableIsEmpty("QT_FATAL_WARNINGS");
  case QtWarningMsg:
    return !qEnvironmentVariableIsEmpty("QT_FATAL_WARNINGS");
  default:
    return false;
  }
}

void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &text) {
  const HeldMessage message{type, QByteArray(context.category), text};
  // The platform's own words; the fallback's (no XDG_RUNTIME_DIR, say) are no clue.
  if (firstComplaint.isEmpty() && type != QtDebugMsg && type != QtInfoMsg &&
      message.category.startsWith("qt.qpa"))
    firstComplaint = QString::fromLatin1(message.category) + QLatin1String(": ") + text;
  heldMessages.append(message);
  if (mayEndTheProgram(type))
    for (const HeldMessage &held : std::exchange(heldMessages, {}))
      passOnMessage(held);
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

#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)

struct XcbConnection;
using XcbConnect = XcbConnection *(*)(const char *display, int *screen);
using XcbHasError = int (*)(XcbConnection *);
using XcbDisconnect = void (*)(XcbConnection *);

// Asks the X server at display as Qt's platform asks it: with libxcb and the environment's X
// authority. libxcb writes a refusing server's reason to standard error itself; it is caught
// here, Qt's own attempt having written it once already. Without libxcb Qt's platform cannot
// have started either, and its own message says so.
DisplayAnswer askXServer(const QByteArray &display, QString &serverSaid) {
  QLibrary xcb(QStringLiteral("xcb"), 1);
  const auto connect = reinterpret_cast<XcbConnect>(xcb.resolve("xcb_connect"));
  const auto hasError = reinterpret_cast<XcbHasError>(xcb.resolve("xcb_connection_has_error"));
  const auto disconnect = reinterpret_cast<XcbDisconnect>(xcb.resolve("xcb_disconnect"));
  int reason[2];
  if (!connect || !hasError || !disconnect || ::pipe2(reason, O_CLOEXEC | O_NONBLOCK) != 0)
    return DisplayAnswer::NotUsable;
  std::fflush(stderr);
  const int standardError = ::dup(STDERR_FILENO);
  ::dup2(reason[1], STDERR_FILENO);
  XcbConnection *connection = connect(display.constData(), nullptr);
  ::dup2(standardError, STDERR_FILENO);
  ::close(standardError);
  ::close(reason[1]);
  const bool failed = hasError(connection) != 0;
  disconnect(connection);
  // A server's reason is at most 255 bytes.
  char bytes[512];
  const ssize_t count = ::read(reason[0], bytes, sizeof bytes);
  ::close(reason[0]);
  serverSaid = count > 0 ? QString::fromLocal8Bit(bytes, count).trimmed() : QString();
  if (!failed)
    return DisplayAnswer::NotUsable;
  return serverSaid.isEmpty() ? DisplayAnswer::Unreachable : DisplayAnswer::Refused;
}

#else

DisplayAnswer askXServer(const QByteArray &, QString &) { return DisplayAnswer::NotUsable; }

#endif

const char *const lastResort = "offscreen";

} // namespace

DisplayFallback::DisplayFallback(int argc, char *argv[]) {
  if (!qtWouldChooseTheXServer(argc, argv))
    return;
  qputenv("QT_QPA_PLATFORM", QByteArray("xcb;") + lastResort);
  passOn = qInstallMessageHandler(holdMessage);
  armed_ = true;
}

std::optional<QString> DisplayFallback::problem() {
  if (!armed_)
    return std::nullopt;
  armed_ = false;
  // Programs started from this one choose their platform for themselves.
  qunsetenv("QT_QPA_PLATFORM");
  qInstallMessageHandler(passOn);
  const QList<HeldMessage> held = std::exchange(heldMessages, {});
  if (QGuiApplication::platformName() != QLatin1String(lastResort)) {
    for (const HeldMessage &message : held)
      passOnMessage(message);
    return std::nullopt;
  }
  DisplayTried tried{
      QString::fromLocal8Bit(qgetenv("DISPLAY")), DisplayAnswer::Unset, {}, firstComplaint};
  if (!tried.display.isEmpty())
    tried.answer = askXServer(tried.display.toLocal8Bit(), tried.serverSaid);
  return noDisplayText(tried);
}

QString noDisplayText(const DisplayTried &tried) {
  QString text;
  switch (tried.answer) {
  case DisplayAnswer::Unset:
    text = QStringLiteral("没有可显示窗口的显示器：未设置 DISPLAY。No display to show the window "
                          "on: DISPLAY is not set. Run qelnor-setup on a desktop, or under "
                          "xvfb-run.");
    break;
  case DisplayAnswer::Unreachable:
    text = QStringLiteral("显示器 %1 无应答。No display to show the window on: nothing answers "
                          "at DISPLAY=%1. Check DISPLAY, or run qelnor-setup under xvfb-run.")
               .arg(tried.display);
    break;
  case DisplayAnswer::Refused:
    text = QStringLiteral("显示器 %1 拒绝了连接：“%2”。The display DISPLAY=%1 refused the "
                          "connection: “%2”. Without the desktop's X authority a display refuses: "
                          "run qelnor-setup as the desktop's user, or with its XAUTHORITY.")
               .arg(tried.display, tried.serverSaid);
    break;
  case DisplayAnswer::NotUsable:
    text = QStringLiteral("Qt 无法使用显示器 %1。Qt could not use the display DISPLAY=%1; "
                          "QT_DEBUG_PLUGINS=1 shows why.")
               .arg(tried.display);
    break;
  }
  if (!tried.qtSaid.isEmpty())
    text += QStringLiteral("\nQt: ") + tried.qtSaid;
  return text;
}
