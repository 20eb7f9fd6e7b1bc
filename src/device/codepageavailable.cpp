#include "device/codepage.h"

bool codePage936Available() { return systemHasCodePage936(); }
