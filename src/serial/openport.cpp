#include "serial/openport.h"

#include "device/replytext.h"

#include <QHash>

bool namesEntry(const QString &text, QStringView entry) {
  return QStringView(text).trimmed().compare(entry, Qt::CaseInsensitive) == 0;
}

std::optional<int> comNumberFromName(const QString &name) {
  for (int n = 1; n <= highestComNumber; ++n)
    if (namesEntry(name, QStringLiteral("COM%1").arg(n)))
      return n;
  return std::nullopt;
}

namespace {

// The entry of a column of the settings table that text names.
std::optional<QString> tableEntry(const QString &text, const char16_t *SettingsRow::*column) {
  for (const SettingsRow &row : SETTINGS_TABLE)
    if (namesEntry(text, row.*column))
      return QString::fromUtf16(row.*column);
  return std::nullopt;
}

} // namespace

std::optional<QString> rateEntry(const QString &text) {
  return tableEntry(text, &SettingsRow::rate);
}

std::optional<QString> parityEntry(const QString &text) {
  return tableEntry(text, &SettingsRow::parity);
}

std::optional<QString> settingsFromTable(const QString &rate, const QString &parity) {
  for (const SettingsRow &row : SETTINGS_TABLE)
    if (namesEntry(rate, row.rate) && namesEntry(parity, row.parity))
      return QString::fromUtf16(row.settings);
  return std::nullopt;
}

ChoiceTexts choicesInForce(int commPort, const QString &settings) {
  const LineSettings line = parseLineSettings(settings).value_or(LineSettings{});
  static const QHash<char, QString> parityNames{{'n', QStringLiteral("None")},
                                                {'o', QStringLiteral("Odd")},
                                                {'e', QStringLiteral("Even")},
                                                {'m', QStringLiteral("Mark")},
                                                {'s', QStringLiteral("Space")}};
  return {QStringLiteral("COM%1").arg(commPort), QString::number(line.rate),
          parityNames.value(line.parity)};
}

void OpenPort(SerialPort &port, const QString &portText, const QString &rateText,
              const QString &parityText) {
  if (const auto number = comNumberFromName(portText))
    port.setCommPort(*number);
  if (const auto settings = settingsFromTable(rateText, parityText))
    port.setSettings(*settings);
  port.setPortOpen(true);
  port.setOutBufferCount(0);
  port.setInBufferCount(0);
  port.setInputMode(SerialPort::comInputModeBinary);
  port.setRThreshold(static_cast<int>(replyBlockSize));
  port.setSThreshold(0);
}
