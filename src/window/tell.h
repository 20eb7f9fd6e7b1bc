#pragma once

#include <QString>

// Says text to whoever started the program, before or instead of the window: the help, the
// version, a usage error. Where the program has no console of its own (a Windows program
// started from its icon, a file dropped on it), the text is shown in a box.
enum class Told { Answer, Problem };
void tell(const QString &text, Told kind);
