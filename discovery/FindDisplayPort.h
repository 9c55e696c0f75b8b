// The search for the paired display's serial port: Bluetooth, then WMI.
#pragma once

#include "DiscoveryResult.h"

// Runs one whole search on the calling thread and fills result, writing
// completed last. Returns 1 when the serial-port stage ran to its end, -1 on
// every failure (completed then stays 0).
int SearchDisplayPort(DiscoveryResult& result);

// Entry of a discovery thread; search is the DiscoverySearch record it shares
// with its starter (see DiscoveryThread.h). Returns SearchDisplayPort's code.
unsigned __stdcall FindDisplayPort(void* search);
