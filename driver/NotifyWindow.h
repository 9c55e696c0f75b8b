// The hidden window through which the device library delivers key events.
#pragma once

#include <windows.h>

void RegisterNotifyWindowClass(HINSTANCE instance);
// The window, on the calling thread; null when it cannot be made.
HWND CreateNotifyWindow(HINSTANCE instance);
// The one way a window of the driver goes, from any thread: from here on its
// messages no longer reach the driver's code, and it is destroyed, at once on
// its own thread, else when its thread next serves its messages. A window
// gone by other means (its thread ended) is left alone.
void ReleaseNotifyWindow(HWND window);
// The window belongs to the calling thread.
bool OwnedByThisThread(HWND window);
