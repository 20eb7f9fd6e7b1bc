#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The error numbers the operator sees. They keep the numbering of the serial-control and
// run-time errors that operators and support staff of such tools already know.
enum class FailureNumber {
  InvalidArgument = 5,
  Overflow = 6,
  TypeMismatch = 13,
  DeviceIo = 57,
  PermissionDenied = 70,
  TransmitBufferFull = 1010,
  InvalidPropertyValue = 380,
  InvalidPortNumber = 8002,
  PortAlreadyOpen = 8005,
  CannotSetCommState = 8015,
  PortNotOpen = 8018,
};

// Raised to stop the handler it happens in. The window catches it in one place and shows the
// number and description; nothing else of the program is affected.
class Failure : public std::exception {
public:
  // The description starts with the number's standard bilingual text; detail, when given,
  // follows on a line of its own and says what was tried.
  Failure(FailureNumber number, const QString &detail = {});

  int number() const { return static_cast<int>(number_); }
  FailureNumber kind() const { return number_; }
  const QString &description() const { return description_; }
  const char *what() const noexcept override { return utf8_.constData(); }

private:
  FailureNumber number_;
  QString description_;
  QByteArray utf8_;
};

QString standardDescription(FailureNumber number);

// The text that reports a failure to a person: its number, then its description.
QString failureText(const Failure &failure);
