#pragma once

#include "serial/serialport.h"

#include <QString>
#include <array>
#include <optional>

// One row of the settings table: the rate and parity texts of the window's lists and the
// line-settings string they stand for.
struct SettingsRow {
  const char16_t *rate;
  const char16_t *parity;
  const char16_t *settings;
};

// Tried in this order. "None" has a lower-case parity letter, "Odd" and "Even" upper-case
// ones, as the devices' documentation writes them.
inline constexpr std::array<SettingsRow, 12> SETTINGS_TABLE{{
    {u"2400", u"None", u"2400,n,8,1"},
    {u"2400", u"Odd", u"2400,O,8,1"},
    {u"2400", u"Even", u"2400,E,8,1"},
    {u"4800", u"None", u"4800,n,8,1"},
    {u"4800", u"Odd", u"4800,O,8,1"},
    {u"4800", u"Even", u"4800,E,8,1"},
    {u"9600", u"None", u"9600,n,8,1"},
    {u"9600", u"Odd", u"9600,O,8,1"},
    {u"9600", u"Even", u"9600,E,8,1"},
    {u"1200", u"None", u"1200,n,8,1"},
    {u"1200", u"Odd", u"1200,O,8,1"},
    {u"1200", u"Even", u"1200,E,8,1"},
}};

inline constexpr int highestComNumber = 15;

// A list text names an entry when it differs from it only in case and in blanks around it:
// "com3", " COM3 " and "9600 " are what the operator meant. Anything else names no entry.
bool namesEntry(const QString &text, QStringView entry);

// The number of the entry "COM1" to "COM15" that name names, if any.
std::optional<int> comNumberFromName(const QString &name);

// The rate or parity of the settings table that text names, as the lists write it ("None").
std::optional<QString> rateEntry(const QString &text);
std::optional<QString> parityEntry(const QString &text);

// The settings string of the first row whose rate and parity the texts name, if any.
std::optional<QString> settingsFromTable(const QString &rate, const QString &parity);

// The texts of the three lists that name a port number and line settings: "COM3", "9600",
// "None". What the operator sees is then what is in force.
struct ChoiceTexts {
  QString port;
  QString rate;
  QString parity;
};
ChoiceTexts choicesInForce(int commPort, const QString &settings);

// Configures and opens the port from the three texts the operator chose: a text that matches
// nothing leaves the port's stored value in force. Then empties both buffers, selects binary
// reads and sets the receive threshold to one reply block and the send threshold to 0.
// Raises what opening raises; the port is then closed.
void OpenPort(SerialPort &port, const QString &portText, const QString &rateText,
              const QString &parityText);
