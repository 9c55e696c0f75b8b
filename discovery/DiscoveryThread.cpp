#include "DiscoveryThread.h"

#include <process.h>

#include <atomic>
#include <new>

#include "FindDisplayPort.h"
#include "ModulePin.h"
#include "OwnHandle.h"
#include "ScopedLock.h"

struct DiscoverySearch {
    std::atomic<long> references{0}; // the thread, each starter, and the running slot
    HANDLE thread = nullptr;         // closed with the record
    unsigned id = 0;
    SearchStages stages = SearchStages::kRecordsThenWmi;
    HMODULE pinnedModule = nullptr;
    DiscoveryResult result;
};

namespace {

// For each kind of search, the one whose thread is still running, holding a
// reference on it; later starters of that kind join it rather than start one more.
SRWLOCK g_runningLock = SRWLOCK_INIT;
DiscoverySearch* g_running[2] = {};

DiscoverySearch*& RunningSlot(SearchStages stages) {
    return g_running[stages == SearchStages::kRecordsOnly ? 1 : 0];
}

void ReleaseSearch(DiscoverySearch* search) {
    if (--search->references != 0)
        return;
    if (search->thread != nullptr)
        CloseHandle(search->thread);
    delete search;
}

// Called by the search's thread as it ends.
void LeaveRunningSlot(DiscoverySearch* search) {
    bool wasRunning = false;
    {
        ScopedLock lock(&g_runningLock);
        DiscoverySearch*& slot = RunningSlot(search->stages);
        if (slot == search) {
            slot = nullptr;
            wasRunning = true;
        }
    }
    if (wasRunning)
        ReleaseSearch(search);
}

// Under the lock: a new search on its own thread, in the running slot.
DiscoverySearch* StartSearch(SearchStages stages) {
    auto* search = new (std::nothrow) DiscoverySearch;
    if (search == nullptr)
        return nullptr;
    search->stages = stages;
    search->references = 2; // the thread and the running slot
    search->pinnedModule = PinOwnModule();
    const uintptr_t handle = _beginthreadex(nullptr, 0, FindDisplayPort, search, 0, &search->id);
    if (handle == 0) {
        if (search->pinnedModule != nullptr)
            FreeLibrary(search->pinnedModule);
        delete search;
        return nullptr;
    }
    search->thread = reinterpret_cast<HANDLE>(handle);
    RunningSlot(stages) = search;
    return search;
}

} // namespace

unsigned __stdcall FindDisplayPort(void* argument) {
    auto* search = static_cast<DiscoverySearch*>(argument);
    const HMODULE pinned = search->pinnedModule;
    const int code = SearchDisplayPort(search->result, search->stages);
    LeaveRunningSlot(search);
    ReleaseSearch(search);
    return ExitThreadReleasingModule(pinned, static_cast<DWORD>(code));
}

bool StartDiscovery(DiscoveryThread& thread, SearchStages stages) {
    thread = DiscoveryThread{};
    ScopedLock lock(&g_runningLock);
    DiscoverySearch* running = RunningSlot(stages);
    DiscoverySearch* search = running != nullptr ? running : StartSearch(stages);
    if (search == nullptr)
        return false;
    const HANDLE handle = DuplicateOwnHandle(search->thread);
    if (handle == nullptr)
        return false;
    ++search->references; // this starter's
    thread.handle = handle;
    thread.id = search->id;
    thread.search = search;
    return true;
}

bool FinishDiscovery(DiscoveryThread& thread, DWORD timeoutMs, DiscoveryResult& result) {
    if (thread.handle == nullptr || thread.search == nullptr)
        return false;
    bool ended = WaitForSingleObject(thread.handle, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(thread.handle);
    if (ended) {
        try {
            result = thread.search->result;
        } catch (...) {
            ended = false; // no memory for the copy: as if nothing was found
        }
    }
    ReleaseSearch(thread.search);
    thread = DiscoveryThread{};
    return ended;
}
