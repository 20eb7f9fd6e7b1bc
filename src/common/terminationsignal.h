#pragma once

#include <QObject>
#include <functional>

// Lets SIGTERM, SIGINT and SIGHUP (log-out, Ctrl+C in the terminal that started the program)
// end the program through its event loop, so that it closes its port, releases the port's lock
// and restores the line settings, instead of being killed with the port as it was. The handler
// runs from the event loop with the signal's number, once per burst of signals, for as long as
// context lives. A signal ignored when the program started stays ignored. On Windows Ctrl+C and
// Ctrl+Break in the console come as SIGINT, the first one only: a second one ends the program at
// once, as if no handler were there. A window is asked to close by the system itself.
// Call once, after the application object exists.
void onTerminationSignal(QObject *context, std::function<void(int signal)> handler);
