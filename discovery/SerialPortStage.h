// Finding, through WMI, the serial port that Windows made for the display.
#pragma once

#include <string>

// Lists the serial ports and sets deviceId to the DeviceID of the display's
// port, or to empty when none carries the address (or addressText is empty).
// Returns false, deviceId untouched, when COM or WMI fails on the way; every
// interface and COM itself are released in each case. Throws std::bad_alloc.
bool FindSerialPort(const std::wstring& addressText, std::wstring& deviceId);
