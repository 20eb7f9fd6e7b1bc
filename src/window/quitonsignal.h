#pragma once

// Makes SIGTERM, SIGINT and SIGHUP end the program as closing its window does, with exit
// status 0. Call once, after the application object exists.
void quitOnTerminationSignals();

// A termination signal is ending the program: nothing may wait for the operator any more.
bool quittingOnSignal();
