#pragma once

// Makes SIGTERM, SIGINT and SIGHUP end the program as closing its window does, with exit
// status 0. Call once, after the application object exists.
void quitOnTerminationSignals();
