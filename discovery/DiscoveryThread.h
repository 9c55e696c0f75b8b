// Running the search on a thread of its own, waited for a bounded time.
//
// Each search writes only into a record of its own, shared by the thread and
// its starters and freed by whichever lets go last. A search that outlives its
// starter's wait therefore can never write into a result the starter has
// already read. One search runs at a time: a Bluetooth stack that never
// answers holds one thread, however often a search is asked for.
#pragma once

#include <windows.h>

#include "DiscoveryResult.h"

struct DiscoverySearch;

struct DiscoveryThread {
    HANDLE handle = nullptr;
    unsigned id = 0;
    DiscoverySearch* search = nullptr;
};

// Starts FindDisplayPort on a new thread (default stack, running at once), or,
// while an earlier search is still running, joins that one instead. Returns
// false, with nothing left to release, when it can do neither.
bool StartDiscovery(DiscoveryThread& thread);

// Waits at most timeoutMs for the thread to end and closes this starter's
// handle. Returns true and hands over the search's result if the thread ended
// within the wait; otherwise this starter lets go of the search and result is
// left as it was.
bool FinishDiscovery(DiscoveryThread& thread, DWORD timeoutMs, DiscoveryResult& result);
