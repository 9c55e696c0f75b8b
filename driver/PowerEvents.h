// What the driver does with the system's power broadcasts, which reach its
// hidden window. After a wake nothing tells the driver that the library's
// link and its key window's registration are gone, and a library whose
// writes still answer success never says so: so the worker closes the link
// before the computer sleeps and brings it up again after every wake,
// whatever it believes of it, showing the host's latest cells.
//
// Any program can broadcast these messages. The window only queues them to
// the worker; one of a kind that is queued, or whose work waits or runs,
// makes the next add nothing; and a forced re-link follows another only
// kForcedRelinkIntervalMs later, so a program broadcasting in a loop cannot
// keep the display down.
#pragma once

#include <windows.h>

class CBrailleSampleDriver;
struct DriverSession;

// Window side, on the host's thread, while the driver is open and not
// suspended: queues the work and never waits. Answers TRUE.
LRESULT OnPowerBroadcast(CBrailleSampleDriver* driver, WPARAM event);

// Worker side: the sleep command closes the link; the wake command makes a
// forced re-link due, which RelinkIfWakeDue (after the command, and on every
// tick) carries out once due.
void CloseLinkForSleep(DriverSession& session);
void ScheduleWakeRelink(DriverSession& session);
void RelinkIfWakeDue(DriverSession& session);
