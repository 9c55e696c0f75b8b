#include "PortName.h"

#include <cstring>

#include <windows.h>

bool StorePortName(const std::wstring& deviceId, char (&portName)[qorn::kDiscoveredPortSize]) {
    // Converting into a spare buffer first keeps the field whole on failure, and
    // the zero padding leaves nothing of a longer earlier name behind.
    char converted[qorn::kDiscoveredPortSize] = {};
    const int written = WideCharToMultiByte(CP_ACP, 0, deviceId.c_str(), -1, converted,
                                            sizeof converted, nullptr, nullptr);
    if (written <= 0)
        return false;
    memcpy(portName, converted, sizeof converted);
    return true;
}
