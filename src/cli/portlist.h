#pragma once

class EventWriter;

// Tells every COM name that has a device behind it, as the window maps them, with the device
// and the system's description of it.
void listPorts(EventWriter &events);
