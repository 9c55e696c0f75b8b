// The hidden window through which the device library delivers key events.
#pragma once

#include <windows.h>

void RegisterNotifyWindowClass(HINSTANCE instance);
HWND CreateNotifyWindow(HINSTANCE instance);
// Destroys the window on its own thread; from any other thread the window is
// asked to close itself, which its thread does when it next serves messages.
void DestroyNotifyWindow(HWND window);
// At unload: a window left behind must not call into code that is about to go,
// and the class must not outlive it either.
void RetireNotifyWindow(HWND window);
void UnregisterNotifyWindowClass(HINSTANCE instance);
