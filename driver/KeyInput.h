// The notification window's procedure: key events from the device library,
// delivered to the host, and the system's power broadcasts, queued to the worker.
#pragma once

#include <windows.h>

#include "Clock.h"

// The hidden window's procedure as the system calls it (KeyDeliveryExit.cpp).
extern "C" LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);

// Waits, serving sent messages, until no thread runs the window procedure's
// work (a key being delivered to the host, say), or until only leaveMs is
// left before the deadline. Only Close waits so, from a thread other than the
// window's, once it has released the window.
void AwaitWindowProcedure(const Deadline& deadline, DWORD leaveMs);
