#include "device/frames.h"

#include "device/address.h"
#include "device/codepage.h"
#include "device/failure.h"

#include <utility>

namespace {

constexpr char carriageReturn = '\r';

QString codePointName(QStringView character) {
  // Worked out by hand: a lone surrogate must be named as itself, not as U+FFFD.
  const char32_t codePoint = character.size() == 2
                                 ? QChar::surrogateToUcs4(character[0], character[1])
                                 : character[0].unicode();
  return QStringLiteral("U+%1")
      .arg(static_cast<uint>(codePoint), 4, 16, QLatin1Char('0'))
      .toUpper();
}

// A control character named as a person knows it, in Chinese and in English.
std::pair<QString, QString> controlCharacterName(char16_t c) {
  switch (c) {
  case 0x00:
    return {QStringLiteral("空字符"), QStringLiteral("a null character")};
  case 0x08:
    return {QStringLiteral("退格符"), QStringLiteral("a backspace")};
  case 0x09:
    return {QStringLiteral("制表符"), QStringLiteral("a tab")};
  case 0x0a:
    return {QStringLiteral("换行符"), QStringLiteral("a line break")};
  case 0x0b:
    return {QStringLiteral("垂直制表符"), QStringLiteral("a vertical tab")};
  case 0x0c:
    return {QStringLiteral("换页符"), QStringLiteral("a form feed")};
  case 0x0d:
    return {QStringLiteral("回车符"), QStringLiteral("a carriage return")};
  case 0x1b:
    return {QStringLiteral("转义符"), QStringLiteral("an escape character")};
  case 0x7f:
    return {QStringLiteral("删除符"), QStringLiteral("a delete character")};
  default:
    return {QStringLiteral("控制字符"), QStringLiteral("a control character")};
  }
}

void refuseControlCharacters(const QString &code) {
  for (QChar c : code) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
      const auto [chinese, english] = controlCharacterName(c.unicode());
      const QString number = codePointName(QStringView(&c, 1));
      throw Failure(FailureNumber::InvalidArgument,
                    QStringLiteral("用户码含有%1 (%2)，未发送。\n"
                                   "The user code holds %3 (%2); nothing was sent.")
                        .arg(chinese, number, english));
    }
  }
}

// Every refusal of an address says what the box takes, not only what was wrong.
QString addressRangeDetail(const QString &addressText) {
  return QStringLiteral(
             "“%1”：通讯地址应为 0–99 的数字。The address must be a number from 0 to 99.")
      .arg(addressText);
}

} // namespace

QByteArray addressFrame(const QString &addressText) {
  quint8 address = 0;
  try {
    address = addressFromText(addressText);
  } catch (const Failure &failure) {
    throw Failure(failure.kind(), addressRangeDetail(addressText));
  }
  if (address > 99)
    throw Failure(FailureNumber::Overflow, addressRangeDetail(addressText));
  QByteArray frame("ID");
  frame.append(static_cast<char>('0' + address / 10));
  frame.append(static_cast<char>('0' + address % 10));
  frame.append(carriageReturn);
  return frame;
}

QByteArray userCodeFrame(const QString &code) {
  // The window's box takes no more than this; a code set from elsewhere, or given on the
  // command line, is refused rather than cut.
  if (code.size() > userCodeMaxLength)
    throw Failure(FailureNumber::InvalidArgument,
                  QStringLiteral("用户码最多 %1 个字符，未发送。\n"
                                 "The user code holds at most %1 characters; nothing was sent.")
                      .arg(userCodeMaxLength));
  refuseControlCharacters(code);
  const auto bytes = toCodePage936(code);
  if (!bytes) {
    const QString character = firstCharOutsideCodePage936(code);
    // Without a converter even an all-ASCII code is refused, and no character is to blame.
    if (!codePage936Available() || character.isEmpty())
      throw Failure(FailureNumber::InvalidArgument,
                    QStringLiteral("本机没有 GBK（代码页 936）转换，用户码未发送。\n"
                                   "This system has no converter for GBK (code page 936); the "
                                   "user code was not sent."));
    throw Failure(FailureNumber::InvalidArgument,
                  QStringLiteral("用户码中的字符“%1”(%2) 无法用 GBK 发送，未发送。\n"
                                 "The character “%1” (%2) of the user code cannot be sent in "
                                 "GBK; nothing was sent.")
                      .arg(character, codePointName(character)));
  }
  return QByteArray("*@-") + *bytes + carriageReturn;
}

QByteArray powerOnLockFrame() { return QByteArray("@Power on lock enable\r"); }

QByteArray initialPasswordFrame() { return QByteArray("*2-IniP\r"); }

QByteArray commandFrame(DeviceCommand command, const QString &argument) {
  switch (command) {
  case DeviceCommand::Address:
    return addressFrame(argument);
  case DeviceCommand::UserCode:
    return userCodeFrame(argument);
  case DeviceCommand::PowerOnLock:
    return powerOnLockFrame();
  case DeviceCommand::ResetPassword:
    return initialPasswordFrame();
  }
  return {};
}

QString commandWord(DeviceCommand command) {
  switch (command) {
  case DeviceCommand::Address:
    return QStringLiteral("address");
  case DeviceCommand::UserCode:
    return QStringLiteral("user-code");
  case DeviceCommand::PowerOnLock:
    return QStringLiteral("power-on-lock");
  case DeviceCommand::ResetPassword:
    return QStringLiteral("reset-password");
  }
  return {};
}
