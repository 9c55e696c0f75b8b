#include "DiscoveryThread.h"

#include <process.h>

#include <atomic>
#include <new>

#include "FindDisplayPort.h"
#include "ModulePin.h"

struct DiscoverySearch {
    std::atomic<long> references{2}; // the thread and its starter
    HMODULE pinnedModule = nullptr;
    DiscoveryResult result;
};

namespace {
void ReleaseSearch(DiscoverySearch* search) {
    if (--search->references == 0)
        delete search;
}
} // namespace

unsigned __stdcall FindDisplayPort(void* argument) {
    auto* search = static_cast<DiscoverySearch*>(argument);
    const HMODULE pinned = search->pinnedModule;
    const int code = SearchDisplayPort(search->result);
    ReleaseSearch(search);
    return ExitThreadReleasingModule(pinned, static_cast<DWORD>(code));
}

bool StartDiscovery(DiscoveryThread& thread) {
    thread = DiscoveryThread{};
    auto* search = new (std::nothrow) DiscoverySearch;
    if (search == nullptr)
        return false;
    search->pinnedModule = PinOwnModule();
    unsigned id = 0;
    const uintptr_t handle = _beginthreadex(nullptr, 0, FindDisplayPort, search, 0, &id);
    if (handle == 0) {
        if (search->pinnedModule != nullptr)
            FreeLibrary(search->pinnedModule);
        delete search;
        return false;
    }
    thread.handle = reinterpret_cast<HANDLE>(handle);
    thread.id = id;
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
