// The hidden window through which the device library delivers key events.
#pragma once

#include <windows.h>

void RegisterNotifyWindowClass(HINSTANCE instance);
// The window, on the calling thread; null when it cannot be made.
HWND CreateNotifyWindow(HINSTANCE instance);
// Destroys the window on its own thread. From any other thread the window is
// first cut off from the driver's code (its procedure becomes the system's
// default), then asked to close, which its thread does when it next serves
// messages.
void DestroyNotifyWindow(HWND window);
// The window belongs to the calling thread.
bool OwnedByThisThread(HWND window);
// The window is being destroyed (its last message).
void ForgetNotifyWindow(HWND window);
// At unload: every window the driver made that still exists, on any thread, is
// cut off from the driver's code and closed (the unload step then unregisters
// the class).
void RetireNotifyWindows();
