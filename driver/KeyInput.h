// The notification window's procedure: key events from the device library.
#pragma once

#include <windows.h>

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// True when the size bytes at address can be read: a key record handed to the
// window with a bad address is ignored rather than read.
bool IsReadableMemory(const void* address, size_t size);
