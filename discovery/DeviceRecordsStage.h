// Finding serial ports in the system's device records (SetupAPI): the present
// devices of the Ports class, each with its instance ID and its port name. No
// port is opened and nothing waits on a device, so a paired device that is
// switched off or out of range costs no more than any other record.
#pragma once

#include <string>
#include <vector>

#include "DiscoveryResult.h"

// Lists the records and sets portName to the name of the display's port, chosen
// by the rules of PortChooser from each record's instance ID, or to empty when
// no record carries the address; every listed port goes into *listed (when
// given), in the system's order. Returns false, portName untouched, when the
// records cannot be listed (the set cannot be made, or the listing breaks off).
// A record whose instance ID or port name cannot be read, or whose port name is
// empty or not text, is passed over. Throws std::bad_alloc.
bool FindPortInDeviceRecords(const std::wstring& addressText, std::wstring& portName,
                             std::vector<ListedPort>* listed = nullptr);
