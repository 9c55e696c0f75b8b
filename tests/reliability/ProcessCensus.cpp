#include "ProcessCensus.h"

#include <tlhelp32.h>

#include <cstdio>

namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

bool OfThisProcess(HWND window) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

void AddWithChildren(HWND window, std::vector<HWND>& windows) {
    windows.push_back(window);
    EnumChildWindows(window, CollectWindow, reinterpret_cast<LPARAM>(&windows));
}

size_t UsedAddressSpace() {
    size_t used = 0;
    const char* address = nullptr;
    MEMORY_BASIC_INFORMATION region;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        used += region.State != MEM_FREE ? region.RegionSize : 0;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return used;
}

} // namespace

std::set<DWORD> ThreadIdsOfProcess() {
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return ids;
}

std::vector<HWND> WindowsOfProcess() {
    std::vector<HWND> topLevel;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&topLevel));
    for (HWND w = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); w != nullptr;
         w = FindWindowExA(HWND_MESSAGE, w, nullptr, nullptr))
        topLevel.push_back(w);
    std::vector<HWND> windows;
    for (HWND window : topLevel) {
        if (OfThisProcess(window))
            AddWithChildren(window, windows);
    }
    return windows;
}

size_t CountWindowsOfClass(const char* className) {
    size_t count = 0;
    for (HWND w = FindWindowExA(nullptr, nullptr, className, nullptr); w != nullptr;
         w = FindWindowExA(nullptr, w, className, nullptr)) {
        if (OfThisProcess(w))
            ++count;
    }
    return count;
}

size_t HeapBytesInUse(size_t* regionBytes) {
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    size_t used = 0;
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                used += entry.cbData;
            if ((entry.wFlags & PROCESS_HEAP_REGION) && regionBytes != nullptr)
                *regionBytes += entry.Region.dwCommittedSize + entry.Region.dwUnCommittedSize;
        }
        HeapUnlock(heaps[i]);
    }
    return used;
}

size_t OpenHandleCount() {
    DWORD reported = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &reported) && reported != 0)
        return reported;
    // Handle values are multiples of 4, handed out lowest first: past the last
    // open one comes a long run of values that name nothing.
    constexpr size_t kClosedRunToStop = 1024;
    size_t open = 0;
    size_t closedRun = 0;
    for (uintptr_t value = 4; closedRun < kClosedRunToStop; value += 4) {
        DWORD flags;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++open;
            closedRun = 0;
        } else {
            ++closedRun;
        }
    }
    return open;
}

ProcessCensus TakeCensus() {
    ProcessCensus census;
    census.handles = OpenHandleCount();
    census.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    census.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    census.threads = ThreadIdsOfProcess().size();
    census.windows = WindowsOfProcess().size();
    census.privateBytes = CommittedPrivateBytes();
    size_t heapRegions = 0;
    census.heapBytes = HeapBytesInUse(&heapRegions);
    census.addressSpaceOutsideHeaps = UsedAddressSpace() - heapRegions;
    return census;
}

std::string Change(size_t before, size_t after) {
    char text[64];
    snprintf(text, sizeof text, "%zu->%zu", before, after);
    return text;
}

std::string ByteChange(size_t before, size_t after) {
    char text[64];
    const double kib = 1024.0;
    snprintf(text, sizeof text, "%.0f->%.0f KiB", before / kib, after / kib);
    return text;
}
