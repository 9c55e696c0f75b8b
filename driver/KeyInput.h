// The notification window's procedure: key events from the device library,
// delivered to the host.
#pragma once

#include <windows.h>

#include "Clock.h"

// The hidden window's procedure as the system calls it (KeyDeliveryExit.cpp).
extern "C" LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam);

// Waits, serving sent messages, until no key event is being delivered to the
// host on a thread other than the caller's, or until only leaveMs is left
// before the deadline.
void AwaitKeyDeliveriesElsewhere(const Deadline& deadline, DWORD leaveMs);
