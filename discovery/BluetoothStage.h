// Finding the paired display among the Bluetooth devices the system knows.
#pragma once

#include <string>

struct BluetoothApi;

// Lists the authenticated devices, without inquiry, and sets addressText to the
// address text of the first whose name marks it as the display (left empty when
// none does). Returns false when the system hands out no search at all (no
// radio, or no authenticated device), and when the system's Bluetooth API is
// missing or lacks one of its functions.
bool FindDisplayAddress(std::wstring& addressText);

// The same through the given functions (the system's, loaded from system32,
// in the overload above).
bool FindDisplayAddress(const BluetoothApi& api, std::wstring& addressText);
