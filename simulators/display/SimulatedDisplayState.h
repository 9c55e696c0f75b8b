// What the key presser needs from the display's state.
#pragma once

#include <windows.h>

// The window and message the device library delivers key events to; false when
// no window has been registered.
bool SimKeyTarget(HWND* window, UINT* message);
