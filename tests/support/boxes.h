#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

// Plays the operator at the message boxes: every box that comes up is noted and dismissed
// with OK. It also notes whether two boxes were ever open at once.
class BoxOperator : public QObject {
  Q_OBJECT

public:
  BoxOperator();

  QStringList texts;
  bool twoAtOnce = false;
  bool iconSeen = false;
  bool untitled = false;
  // Whether a box asked the window manager for a maximise button, which a box that cannot grow
  // would offer for nothing.
  bool maximisable = false;
  // Boxes that offered to close the port; the operator takes the offer when told to.
  int closeOffers = 0;
  bool closePortWhenOffered = false;

private:
  void dismissOpenBox();
  QTimer timer_;
};
