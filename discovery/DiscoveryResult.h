// What one search for the display's serial port delivers to its starter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Parameters.h"

// A port the device records listed, and whether its record names the display.
struct ListedPort {
    std::wstring name;
    bool display = false;
};

struct DiscoveryResult {
    // 1 once the serial-port stages ran to their end, with or without a port.
    uint8_t completed = 0;
    // Name of the chosen serial port, exactly as the device records (PortName)
    // or WMI (DeviceID) gave it; empty for none.
    std::wstring deviceId;
    // deviceId in the ANSI code page, zero-terminated; written only with a port.
    char portName[qorn::kDiscoveredPortSize] = {};
    // Every port the device records listed, when they could be listed to the end.
    std::vector<ListedPort> listed;
};
