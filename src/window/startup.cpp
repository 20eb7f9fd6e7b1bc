#include "window/startup.h"

#include "serial/openport.h"

QStringList portItems() {
  QStringList items;
  for (int n = 1; n <= highestComNumber; ++n)
    items.append(QStringLiteral("COM%1").arg(n));
  return items;
}

QStringList rateItems() {
  return {QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
          QStringLiteral("9600")};
}

QStringList parityItems() {
  return {QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even")};
}

QStringList aboutMessages() {
  return {QStringLiteral("QELNOR 彩屏系列专用设置软件\n版本 Version %1")
              .arg(QStringLiteral(QELNOR_VERSION)),
          QStringLiteral("版权所有 © QELNOR，依 MIT 许可证发布。Copyright © QELNOR. Released under "
                         "the MIT licence.")};
}
