#pragma once

#include <QComboBox>

// The port list. It says when it is about to open so that the tooltips naming the device
// behind each COM name can be brought up to date: adapters come and go while the tool runs.
class PortComboBox : public QComboBox {
  Q_OBJECT

public:
  using QComboBox::QComboBox;

  void showPopup() override;

signals:
  void dropDown();
};
