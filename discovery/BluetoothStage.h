// Finding the paired display among the Bluetooth devices the system knows.
#pragma once

#include <string>

// Lists the authenticated devices, without inquiry, and sets addressText to the
// address text of the first whose name marks it as the display (left empty when
// none does). Returns false when the system hands out no search at all (no
// radio, or no authenticated device).
bool FindDisplayAddress(std::wstring& addressText);
