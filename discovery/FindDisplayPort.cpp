// Placeholder until the Bluetooth and WMI stages land: finds nothing.
#include "FindDisplayPort.h"

int SearchDisplayPort(DiscoveryResult&) { return -1; }
