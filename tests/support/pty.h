#pragma once

#include <QByteArray>
#include <QString>

struct termios;

// A pseudo-terminal standing in for the device: the program opens the slave path, the test
// plays the device on the master side.
class PseudoTerminal {
public:
  // Raw, as a device's line; or in the line mode a terminal starts in, as an operator's keyboard,
  // where the carriage return of Enter hands the program a line.
  enum class Mode { Raw, Keyboard };
  explicit PseudoTerminal(Mode mode = Mode::Raw);
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal &) = delete;
  PseudoTerminal &operator=(const PseudoTerminal &) = delete;

  QString path() const { return path_; }
  // Sends the bytes as the device; a test fails if they do not all go. From the test's own
  // thread only: Qt Test's checks are not thread-safe.
  void write(const QByteArray &bytes);
  // The same from any thread, telling whether all of them went.
  bool writeAll(const QByteArray &bytes);
  // What the program sent, gathered until nothing more arrives for quietMs.
  QByteArray read(int quietMs = 50);
  // What the program sent, once a whole frame has come (up to its CR); only timeoutMs bounds the
  // wait. From any thread.
  QByteArray readFrame(int timeoutMs = 20000);
  // Fills the terminal from the program's side with 'x' until it takes nothing more, and stops its
  // output, as the line of a device that has stopped reading is left: nothing the program writes
  // gets through any more, also once the test reads the 'x's. Returns how many bytes it took; the
  // test fails when it could not.
  qint64 fillUntilFull();
  // The device stops reading, as a device's XOFF stops a UART: nothing the program writes gets
  // through, whatever it does to the line as it opens it. Or it reads again: what waits flows on.
  void stopReading();
  void readAgain();
  // The line settings as the program left them on the terminal.
  bool lineSettings(termios &settings) const;
  // Another program takes the terminal for itself (TIOCEXCL), or gives it up.
  bool holdExclusively(bool hold);
  // The device goes away: the master side closes.
  void closeDevice();

private:
  int master_ = -1;
  int slave_ = -1;
  QString path_;
};
