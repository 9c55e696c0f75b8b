// How a key delivery leaves the driver. The host's callbacks run while the
// window's thread is inside the driver's code, and a host may close and free
// the driver from another thread meanwhile; so a delivery holds the driver
// library loaded, and lets go of it only once its thread has left the
// driver's code. The window procedure's last act is a tail call of the
// system's SignalObjectAndWait on an event of the delivery's own, which
// answers the message with WAIT_OBJECT_0 (0) from the system's code; a
// thread-pool callback waiting for that event lets go of the hold as it
// returns (FreeLibraryWhenCallbackReturns).
#pragma once

#include <windows.h>

// Takes a hold on the driver library for one key delivery; false when none
// could be taken (the delivery then runs without).
bool HoldDriverForKeyDelivery();

// Arranges the way out for a delivery that holds the library: the event its
// thread signals as it leaves, after which a pool thread lets go of the hold.
// Null when that cannot be arranged: the hold is then kept for the rest of
// the process, which is safe.
HANDLE ArrangeKeyDeliveryExit();
