#pragma once

// Makes SIGTERM, SIGINT and SIGHUP (log-out, Ctrl+C in the terminal that started the program)
// end the program as closing its window does, with exit status 0: the port is closed, its lock
// released and its line settings restored, instead of the process being killed with the port
// as it was. Call once, after the application object exists. Windows ends a session by asking
// the windows to close, which needs nothing more.
void quitOnTerminationSignals();
