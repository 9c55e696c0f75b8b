// Running the search on a thread of its own, waited for a bounded time.
//
// Each search writes only into a record of its own, shared by the thread and
// its starters and freed by whichever lets go last. A search that outlives its
// starter's wait therefore can never write into a result the starter has
// already read. One search of each kind (SearchStages) runs at a time: a start
// joins the running search of its own kind, never one of the other, so a full
// search is never answered by a records-only one, and a records-only start
// never waits on WMI. A Bluetooth stack that never answers holds at most one
// thread of each kind, however often searches are asked for.
#pragma once

#include <windows.h>

#include "DiscoveryResult.h"
#include "FindDisplayPort.h"

struct DiscoverySearch;

struct DiscoveryThread {
    HANDLE handle = nullptr;
    unsigned id = 0;
    DiscoverySearch* search = nullptr;
};

// Starts FindDisplayPort on a new thread (default stack, running at once) to
// search the given stages, or, while an earlier search of the same stages is
// still running, joins that one instead. Returns false, with nothing left to
// release, when it can do neither.
bool StartDiscovery(DiscoveryThread& thread, SearchStages stages = SearchStages::kRecordsThenWmi);

// Waits at most timeoutMs for the thread to end and closes this starter's
// handle. Returns true and hands over the search's result if the thread ended
// within the wait; otherwise this starter lets go of the search and result is
// left as it was.
bool FinishDiscovery(DiscoveryThread& thread, DWORD timeoutMs, DiscoveryResult& result);
