// A thousand sessions in one process, as a screen reader that opens and closes
// the display all day would run them: every thread, handle, window and byte the
// driver takes must come back, and unloading must leave no code of it running.
#include <gtest/gtest.h>

#include <windows.h>

#include <psapi.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "DebuggerOutput.h"
#include "KeyExamples.h"
#include "ProcessCensus.h"
#include "ReliabilityTable.h"
#include "SampleDriver.h"
#include "ScreenReaderHost.h"
#include "TestSupport.h"

namespace {

constexpr int kCycles = 1000;
constexpr int kWritesPerCycle = 50;
constexpr int kLinkUpEvery = 100; // each link-up costs the worker its 1 s settle pause
constexpr int kWarmUpCycles = 24; // long enough for every injected fault kind to have fired once

// Margins for what the process may hold after the soak beyond what it held
// before. A leak of one handle, window or thread per cycle would exceed them a
// hundred times over; a leak of 16 bytes per cycle exceeds the heap margin.
constexpr size_t kHandleMargin = 8;
constexpr size_t kHeapMargin = 16 * 1024;
constexpr size_t kPrivateMargin = 1024 * 1024;

constexpr char kDriverFile[] = "QornDriver.jlb";

struct CycleCounts {
    int writesAccepted = 0;
    int keysDelivered = 0;
    int keysWrong = 0;
    int linkUpCycles = 0;
    int linkUpDisplayWrong = 0;
    std::vector<DWORD> workerIds; // reserved ahead, so the soak's own records do not grow the heap
};

void Cells(int cycle, int write, uint8_t cells[12]) {
    for (int i = 0; i < 12; ++i)
        cells[i] = static_cast<uint8_t>(cycle * 7 + write * 3 + i);
}

bool DisplayShows(const uint8_t cells[12]) {
    uint8_t shown[12] = {};
    return SimGetCells(shown, 12) == 12 && memcmp(shown, cells, 12) == 0;
}

// The fault a cycle arms: the next call of one ordinal raises something. The
// key-window registration (14) is left out: a failed one loses the cycle's key,
// which the containment table covers.
struct InjectedFault {
    int ordinal;
    int kind; // 0: C++ of the same runtime; else the structured exception kFaultCodes[kind - 1]
};

constexpr DWORD kFaultCodes[] = {EXCEPTION_ACCESS_VIOLATION, 0xE06D7363,
                                 EXCEPTION_INT_DIVIDE_BY_ZERO};

// The same sequence every run. A link-up cycle never gets a failing open or
// write, so that it still shows its last cells.
InjectedFault PickFault(int cycle, bool linkUp) {
    static const int anyCycle[] = {15, 3, 10, 9, 16, 2};
    static const int linkUpCycle[] = {10, 9, 16, 2};
    const uint32_t mixed = static_cast<uint32_t>(cycle) * 2654435761u;
    const int ordinal = linkUp ? linkUpCycle[(mixed >> 8) % std::size(linkUpCycle)]
                               : anyCycle[(mixed >> 8) % std::size(anyCycle)];
    return {ordinal, static_cast<int>((mixed >> 20) % 4)};
}

void ArmFault(const InjectedFault& fault, int count) {
    if (fault.kind == 0)
        SimThrowOnNext(fault.ordinal, count);
    else
        SimRaiseOnNext(fault.ordinal, count, kFaultCodes[fault.kind - 1]);
}

// One session: Open, 50 writes, the device version, one key, Close, with one
// fault armed for its length unless told otherwise.
void RunCycle(ScreenReaderHost& host, int cycle, bool linkUp, CycleCounts& counts,
              bool armed = true) {
    IBrailleDriver* driver = host.Driver();
    SimSetPresent(linkUp ? 1 : 0);
    const InjectedFault fault = PickFault(cycle, linkUp);
    ArmFault(fault, armed ? 1 : 0);
    ASSERT_EQ(driver->Open("COM5", &host, "soak", ""), 1) << "cycle " << cycle;
    counts.workerIds.push_back(static_cast<CBrailleSampleDriver*>(driver)->m_workerThreadId);
    uint8_t cells[12];
    for (int w = 0; w < kWritesPerCycle; ++w) {
        Cells(cycle, w, cells);
        if (driver->WriteCells(cells, 12) != 0)
            ++counts.writesAccepted;
    }
    const NamedExample& key = kNamedExamples[cycle % std::size(kNamedExamples)];
    const size_t keysBefore = host.keys.size();
    const int sentBefore = SimKeysDelivered();
    SimPressKey(key.dots, key.controls, key.routing);
    host.PumpUntil([&] { return SimKeysDelivered() > sentBefore; }, 5000);
    if (host.keys.size() == keysBefore + 1 && host.keys.back().name == key.name)
        ++counts.keysDelivered;
    else
        ++counts.keysWrong;
    host.keys.clear();
    driver->GetDeviceVersion();
    driver->Close();
    ArmFault(fault, 0);
    if (linkUp) {
        ++counts.linkUpCycles;
        if (!DisplayShows(cells)) // Close runs after every queued write
            ++counts.linkUpDisplayWrong;
    }
}

struct ModuleRange {
    const char* base = nullptr;
    size_t size = 0;
};

ModuleRange RangeOf(HMODULE module) {
    MODULEINFO info{};
    GetModuleInformation(GetCurrentProcess(), module, &info, sizeof info);
    return {static_cast<const char*>(info.lpBaseOfDll), info.SizeOfImage};
}

// After unloading, nothing of the driver's image may remain mapped.
bool ImageStillMapped(const ModuleRange& range) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(range.base, &info, sizeof info) == 0)
        return false;
    return info.State != MEM_FREE && info.Type == MEM_IMAGE && info.AllocationBase == range.base;
}

size_t Surviving(const std::vector<DWORD>& ids, const std::set<DWORD>& living) {
    size_t count = 0;
    for (DWORD id : ids)
        count += living.count(id);
    return count;
}

std::string Growth(size_t before, size_t after) {
    return after > before ? std::to_string(after - before) : "0";
}

} // namespace

TEST(Soak, AThousandSessionsGiveBackEverythingAndUnloadCleanly) {
    SimReset();
    SimSetLogService(0);
    ScreenReaderHost host;
    ASSERT_TRUE(host.Load(kDriverFile));
    const ModuleRange range = RangeOf(host.Module());

    // Warm-up: the display's key thread, the window class and the system's own
    // lazily made objects come into being here, not inside the measurement.
    DebuggerOutput debugger(DebuggerOutput::kCountOnly);
    CycleCounts warmUp;
    for (int i = 0; i < kWarmUpCycles; ++i)
        RunCycle(host, i, i == 0, warmUp);
    debugger.Clear();
    const ProcessCensus before = TakeCensus();
    const std::set<DWORD> threadsBefore = ThreadIdsOfProcess();

    CycleCounts counts;
    counts.workerIds.reserve(kCycles);
    const LARGE_INTEGER start = Now();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        RunCycle(host, cycle, cycle % kLinkUpEvery == kLinkUpEvery / 2, counts);
        if (HasFatalFailure())
            return;
    }
    const double seconds = MillisecondsSince(start) / 1000.0;
    const ProcessCensus after = TakeCensus();
    const int faultsContained = debugger.Total();

    host.Unload();
    const bool moduleGone = GetModuleHandleA(kDriverFile) == nullptr;
    const bool imageMapped = ImageStillMapped(range);
    const std::set<DWORD> threadsAfterUnload = ThreadIdsOfProcess();
    const size_t workersAlive = Surviving(counts.workerIds, threadsAfterUnload);
    size_t newThreads = 0;
    for (DWORD id : threadsAfterUnload)
        newThreads += threadsBefore.count(id) == 0 ? 1 : 0;
    const size_t driverWindows = CountWindowsOfClass("jQornDriver");

    ReportRow("1 soak",
              "1000 x (Open, 50 writes, 1 key, Close), link up in 10; display absent in the rest; "
              "each with one of ordinals 15 10 3 9 16 2 armed to raise C++, AV, MS C++ or /0",
              "%.1f s; writes accepted %d; keys %d/%d right; link-up cycles showing last cells "
              "%d/%d; faults raised and contained %d",
              seconds, counts.writesAccepted, counts.keysDelivered, kCycles,
              counts.linkUpCycles - counts.linkUpDisplayWrong, counts.linkUpCycles,
              faultsContained);
    ReportRow("1 soak", "process census before/after the 1000 sessions (Wine: GDI, USER read 0)",
              "handles %s, threads %s, windows %s, GDI %s, USER %s, heap %s, private %s",
              Change(before.handles, after.handles).c_str(),
              Change(before.threads, after.threads).c_str(),
              Change(before.windows, after.windows).c_str(),
              Change(before.gdiObjects, after.gdiObjects).c_str(),
              Change(before.userObjects, after.userObjects).c_str(),
              ByteChange(before.heapBytes, after.heapBytes).c_str(),
              ByteChange(before.privateBytes, after.privateBytes).c_str());
    ReportRow("1 soak", "FreeLibrary after Close: module, image, worker threads",
              "module handle %s, image %s, %zu workers started, %zu alive, %zu new threads, "
              "%zu driver windows",
              moduleGone ? "null" : "STILL SET", imageMapped ? "STILL MAPPED" : "unmapped",
              counts.workerIds.size(), workersAlive, newThreads, driverWindows);

    EXPECT_EQ(counts.keysDelivered, kCycles);
    EXPECT_EQ(counts.linkUpDisplayWrong, 0);
    EXPECT_GT(counts.writesAccepted, 0);
    EXPECT_GT(faultsContained, kCycles / 10);
    EXPECT_LE(after.handles, before.handles + kHandleMargin)
        << "handles grew by " << Growth(before.handles, after.handles);
    EXPECT_LE(after.gdiObjects, before.gdiObjects);
    EXPECT_LE(after.userObjects, before.userObjects);
    EXPECT_LE(after.threads, before.threads);
    EXPECT_LE(after.windows, before.windows);
    EXPECT_LE(after.heapBytes, before.heapBytes + kHeapMargin)
        << "heap grew by " << Growth(before.heapBytes, after.heapBytes);
    EXPECT_LE(after.privateBytes, before.privateBytes + kPrivateMargin)
        << "private bytes grew by " << Growth(before.privateBytes, after.privateBytes);
    EXPECT_TRUE(moduleGone);
    EXPECT_FALSE(imageMapped);
    EXPECT_EQ(workersAlive, 0u);
    EXPECT_EQ(newThreads, 0u);
    EXPECT_EQ(driverWindows, 0u);
    SimReset();
}

// The host loads the driver, runs a session and frees it, again and again:
// nothing may stay behind beyond what loading and freeing a library that does
// nothing, built with the same runtime, leaves (code made per load would show
// as 4 KiB of memory and of address space).
TEST(Soak, AHundredReloadsLeaveNoMoreThanALibraryThatDoesNothing) {
    SimReset();
    SimSetLogService(0);
    CycleCounts counts;
    int cycles = 0;
    const auto reload = [&] {
        ScreenReaderHost host;
        if (host.Load(kDriverFile))
            RunCycle(host, cycles++, false, counts, /*armed=*/false);
    };
    const auto loadBlank = [] { FreeLibrary(LoadLibraryA("BlankLibrary.dll")); };
    ProcessCensus census[2][2]; // per run: after five loads to warm up, after 100 more
    for (int run = 0; run < 2; ++run) {
        const auto load = [&] { run == 0 ? reload() : loadBlank(); };
        for (int i = 0; i < 105; ++i) {
            if (i == 5)
                census[run][0] = TakeCensus();
            load();
        }
        census[run][1] = TakeCensus();
    }
    // Per load, what the driver left of a figure beyond what the blank library left.
    const auto beyond = [&](size_t ProcessCensus::*figure) {
        const auto grew = [&](int run) {
            return double(census[run][1].*figure) - double(census[run][0].*figure);
        };
        return (grew(0) - grew(1)) / 100;
    };
    const double committed = beyond(&ProcessCensus::privateBytes);
    const double committedOwn =
        (double(census[0][1].privateBytes) - double(census[0][0].privateBytes)) / 100;
    const double space = beyond(&ProcessCensus::addressSpaceOutsideHeaps);
    const double handles = beyond(&ProcessCensus::handles);
    const double threads = beyond(&ProcessCensus::threads);

    ReportRow("1 soak",
              "100 x (load, Open, 50 writes, 1 key, Close, FreeLibrary), display absent; "
              "against 100 x (load, free) of a library that does nothing, same runtime",
              "left per load beyond that library: committed %+.2f KiB, address space outside "
              "the heaps %+.2f KiB, handles %+.2f, threads %+.2f; committed per load in all "
              "%+.2f KiB; keys %d/%d, answered other than 0: %d",
              committed / 1024, space / 1024, handles, threads, committedOwn / 1024,
              counts.keysDelivered, cycles, SimKeyAnswersNotZero());
    EXPECT_EQ(counts.keysDelivered, cycles);
    EXPECT_EQ(SimKeyAnswersNotZero(), 0);
    EXPECT_TRUE(WaitFor([] { return GetModuleHandleA(kDriverFile) == nullptr; }, 5000));
    EXPECT_LT(committed, 1024.0);
    EXPECT_LT(committedOwn, 1024.0) << "the runtime's own reserve, freed at unload";
    EXPECT_LT(space, 1024.0);
    EXPECT_LT(handles, 0.1);
    EXPECT_LT(threads, 0.02);
    SimReset();
}
