// How the host's threads wait: always within a bound, and serving the
// messages other threads send them meanwhile (the device library's key events,
// and whatever a host thread waits to have answered by this one), so that no
// wait of the driver can hold up another thread for good. Messages posted to
// the thread wait for the host's own loop.
#pragma once

#include <windows.h>

#include "Clock.h"

// Waits until the object is signalled or the deadline passes; with no object,
// until the deadline (a pause). True when the object was signalled.
bool WaitServingSentMessages(HANDLE object, const Deadline& deadline);
