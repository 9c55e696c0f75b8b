// Running the search on a thread of its own, waited for a bounded time.
//
// Each search writes only into a record of its own, shared by the thread and
// its starter and freed by whichever lets go last. A search that outlives its
// starter's wait therefore can never write into a result the starter has
// already read, or into the record of a newer search.
#pragma once

#include <windows.h>

#include "DiscoveryResult.h"

struct DiscoverySearch;

struct DiscoveryThread {
    HANDLE handle = nullptr;
    unsigned id = 0;
    DiscoverySearch* search = nullptr;
};

// Starts FindDisplayPort on a new thread (default stack, running at once).
// Returns false, with nothing left to release, when it cannot be started.
bool StartDiscovery(DiscoveryThread& thread);

// Waits at most timeoutMs for the thread to end and closes its handle. Returns
// true and hands over the search's result if the thread ended within the wait;
// otherwise the search is abandoned and result is left as it was.
bool FinishDiscovery(DiscoveryThread& thread, DWORD timeoutMs, DiscoveryResult& result);
