#pragma once

#include <QByteArray>
#include <QString>

// The command frames the device understands: ASCII commands that end with a carriage
// return. Builders raise a Failure instead of returning a frame that would say something the
// operator did not ask for.

// "ID", two decimal digits, CR. Raises as addressFromText does, and Overflow for an address
// above 99, which two digits cannot carry.
QByteArray addressFrame(const QString &addressText);

// "*@-", the user code in code page 936 unchanged, CR. Raises InvalidArgument for a code
// longer than userCodeMaxLength, for a code holding a control character (a pasted CR would
// end the frame early and start another command) or a character that code page 936 cannot
// hold, and when the system has no code page 936 converter at all.
QByteArray userCodeFrame(const QString &code);
// The longest user code the device takes, in UTF-16 units as a text box counts them.
inline constexpr qsizetype userCodeMaxLength = 32;

QByteArray powerOnLockFrame();
QByteArray initialPasswordFrame();

// The four commands the device understands, as the programs name them.
enum class DeviceCommand { Address, UserCode, PowerOnLock, ResetPassword };

// The frame of a command, from its builder above: argument is the address or the user code as
// typed, and unused by the commands without one. Raises the builder's refusal.
QByteArray commandFrame(DeviceCommand command, const QString &argument = {});

// The word that names a command on the command line and in a record: "address", "user-code",
// "power-on-lock", "reset-password".
QString commandWord(DeviceCommand command);
