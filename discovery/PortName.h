// The chosen port's DeviceID as the narrow port name the driver opens.
#pragma once

#include <string>

#include "Parameters.h"

// Converts deviceId to the ANSI code page into portName, zero-padded. Returns
// false, leaving portName untouched, when the conversion fails or the text with
// its terminator does not fit.
bool StorePortName(const std::wstring& deviceId, char (&portName)[qorn::kDiscoveredPortSize]);
