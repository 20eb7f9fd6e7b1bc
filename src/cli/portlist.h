#pragma once

#include "serial/devicemap.h"

class EventWriter;

// Tells every COM name that has a device behind it, as the window maps them, with the device
// and the system's description of it; or that there is none. Returns the exit status.
int listPorts(EventWriter &events, const QList<ComDevice> &devices);
