#pragma once

#include "device/failure.h"

#include <QString>

class QWidget;

QString applicationTitle();

// Every box of the program: modal, the application title, the text, one OK button, no icon.
// Returns when the operator has dismissed it.
void showMessageBox(QWidget *parent, const QString &text);
