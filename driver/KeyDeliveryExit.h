// How a key delivery leaves the driver. The host's callbacks run while the
// window's thread is inside the driver's code, and a host may close and free
// the driver from another thread meanwhile; so a delivery holds the driver
// library loaded, and lets go of it only once its thread has left the
// driver's code: the window procedure returns through a few bytes of code
// outside the library, which free the hold and answer 0.
#pragma once

#include <windows.h>

// Makes that way out, once; called before the first window is made, on the
// thread of a lifecycle call.
void PrepareKeyDeliveryExit();

// A reference on the driver library for one key delivery, released on the
// way out of the window procedure; null when no such way out could be made
// (the delivery then runs without a hold).
HMODULE HoldDriverForKeyDelivery();
