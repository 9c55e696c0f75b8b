// What the driver does with the system's power broadcasts, which reach its
// hidden window. After a wake nothing tells the driver that the library's
// link and its key window's registration are gone, and a library whose
// writes still answer success never says so: so the link closes before the
// computer sleeps and is brought up again after every wake, whatever the
// worker believes of it (the link's decision, LinkPolicy.h, says when).
//
// Any program can broadcast these messages: the window only queues them to
// the worker, one of each kind at a time, and never waits.
#pragma once

#include <windows.h>

class CBrailleSampleDriver;

// Window side, on the host's thread. Answers TRUE.
LRESULT OnPowerBroadcast(CBrailleSampleDriver* driver, WPARAM event);
