// The search for the paired display's serial port: Bluetooth, then the device
// records, then WMI when the records give no port.
#pragma once

#include "DiscoveryResult.h"

// Where a search may look for the display's port once Bluetooth has given its
// address.
enum class SearchStages {
    // The device records, and WMI when no record carries the address or the
    // records cannot be listed. WMI may open every serial port to read it (seconds
    // for a paired Bluetooth device that is off or out of range).
    kRecordsThenWmi,
    // The device records only: opens no port. For searches while the display
    // is in use, which must not disturb other devices' ports.
    kRecordsOnly,
};

// Runs one whole search on the calling thread and fills result, writing
// completed last. Returns 1 when the serial-port stages ran to their end (with
// or without a port), -1 on every failure (completed then stays 0): no
// Bluetooth search, a failed WMI stage, a records-only search whose records
// cannot be listed, or a chosen port name that does not fit.
int SearchDisplayPort(DiscoveryResult& result, SearchStages stages = SearchStages::kRecordsThenWmi);

// Entry of a discovery thread; search is the DiscoverySearch record it shares
// with its starter (see DiscoveryThread.h). Returns SearchDisplayPort's code.
unsigned __stdcall FindDisplayPort(void* search);
