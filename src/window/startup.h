#pragma once

#include <QStringList>

// What the three lists hold, in order; the boxes start showing their design texts, not an item.
QStringList portItems();
QStringList rateItems();
QStringList parityItems();

// The two About messages, shown one after the other; the first names the version.
QStringList aboutMessages();
