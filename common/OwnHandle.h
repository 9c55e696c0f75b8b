// A second handle to an object of this process, for a thread that may outlive
// whoever holds the first one (and closes it).
#pragma once

#include <windows.h>

// A duplicate with the same access; null if the system refuses.
HANDLE DuplicateOwnHandle(HANDLE handle);
