#pragma once

#include <QObject>

class QWidget;

// Watches a top-level window until its first paint has been drawn and handed to the platform,
// then prints "firstpaint <monotonic ns>" on standard output and ends the event loop. A window
// that has not painted within ten seconds ends the program with exit code 1.
class FirstPaintReporter : public QObject {
public:
  explicit FirstPaintReporter(QWidget *window);

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  bool painted_ = false;
};
