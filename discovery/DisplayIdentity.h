// How the display shows itself among the paired Bluetooth devices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// True for a device name that starts with exactly "ZR47-" (case matters) and
// goes on after it; name holds at most maxChars code units, terminated or not.
bool IsDisplayName(const wchar_t* name, size_t maxChars);

// The Bluetooth address as 12 upper-case hex digits, most significant byte
// first; bytes[0] is the least significant byte, as Windows stores it.
std::wstring AddressText(const uint8_t (&bytes)[6]);
