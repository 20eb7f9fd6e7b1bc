#include "window/portcombobox.h"

void PortComboBox::showPopup() {
  emit dropDown();
  QComboBox::showPopup();
}
