// The simulated display's device-library ordinals, scripts and call log.
#include "SimulatedDisplay.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <deque>
#include <stdexcept>

#include "DeviceLibrary.h"
#include "SimulatedDisplayState.h"

namespace {

constexpr int kLogCapacity = 4096;
constexpr int kOrdinalSlots = 17;

struct OrdinalScript {
    std::deque<int32_t> queued;
    bool hasFixed = false;
    int32_t fixed = 0;
    DWORD delayMs = 0;
    int throwCount = 0;
    int raiseCount = 0;
    DWORD raiseCode = 0;
    int calls = 0;
    int returned = 0;
};

struct DisplayState {
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE callReturned;
    CONDITION_VARIABLE delaysEnded;
    int delayRound = 0; // one more each time the delays under way are ended
    int inLibrary = 0;  // calls under way
    int overlaps = 0;   // calls that came in while another was under way
    OrdinalScript scripts[kOrdinalSlots];
    SimCall log[kLogCapacity];
    int logged = 0;
    int resets = 0; // a call that outlives a reset must not touch the new log
    bool logService = true;
    bool present = true;
    bool linkOpen = false;
    // The computer slept: the link is gone without a word (writes still
    // answer success but show nothing, the key registration is lost) until
    // the link is opened again.
    bool asleep = false;
    wchar_t displayPort[kSimPortChars] = {}; // the only name it opens on; empty: any
    wchar_t openingPort[kSimPortChars] = {}; // of the open under way
    uint8_t size[2] = {12, 12};
    uint8_t deviceData[3] = {1, 4, 2};
    uint8_t shown[kSimMaxCells] = {};
    int shownCount = 0;
    HWND keyWindow = nullptr;
    UINT keyMessage = 0;

    DisplayState() {
        InitializeCriticalSection(&lock);
        InitializeConditionVariable(&callReturned);
        InitializeConditionVariable(&delaysEnded);
    }
};

DisplayState g_state;

class Locked {
public:
    Locked() { EnterCriticalSection(&g_state.lock); }
    ~Locked() { LeaveCriticalSection(&g_state.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

int64_t Now() {
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return ticks.QuadPart;
}

// What a present display answers when nothing is scripted.
int32_t NaturalResult(int ordinal) {
    switch (ordinal) {
    case 15:
        return g_state.present && (g_state.displayPort[0] == L'\0' ||
                                   _wcsicmp(g_state.displayPort, g_state.openingPort) == 0)
                   ? 1
                   : 0;
    case 3:
        return g_state.present && g_state.linkOpen ? 1 : 0;
    case 10:
        return g_state.present && g_state.linkOpen ? 0 : -1;
    case 9:
        return g_state.present && g_state.linkOpen ? 1 : 0;
    default:
        return 0;
    }
}

enum class Outcome { kReturn, kThrow, kRaise };

// Chooses the result of one call: queued first, then fixed, then natural;
// or an exception in its place.
Outcome NextResult(int ordinal, int32_t* result, DWORD* raiseCode) {
    OrdinalScript& script = g_state.scripts[ordinal];
    ++script.calls;
    if (script.throwCount > 0) {
        --script.throwCount;
        return Outcome::kThrow;
    }
    if (script.raiseCount > 0) {
        --script.raiseCount;
        *raiseCode = script.raiseCode;
        return Outcome::kRaise;
    }
    if (!script.queued.empty()) {
        *result = script.queued.front();
        script.queued.pop_front();
    } else if (script.hasFixed) {
        *result = script.fixed;
    } else {
        *result = NaturalResult(ordinal);
    }
    return Outcome::kReturn;
}

// A page that is reserved but never accessible: touching it is a real fault.
volatile int32_t* InaccessibleAddress() {
    static void* const page = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
    return static_cast<volatile int32_t*>(page);
}

// Never set: it only keeps the compiler from seeing a recursion without end.
volatile bool g_stackEnough = false;

// Recurses until it runs into the stack's guard page: a real overflow, as a
// library that recurses without bound makes one.
__attribute__((noinline)) int OverflowStack(volatile char* caller) {
    volatile char frame[4096];
    frame[0] = caller != nullptr ? static_cast<char>(caller[0] + 1) : 0;
    if (g_stackEnough)
        return frame[0];
    return OverflowStack(frame) + frame[1];
}

// Raised with no lock held and nothing to destroy on the way out: frames built
// by GCC run no cleanups while a structured exception unwinds them. An access
// violation and a stack overflow are real ones.
// A page that raises EXCEPTION_GUARD_PAGE at its next touch.
volatile int32_t* GuardPage() {
    static void* const page = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
    DWORD previous = 0;
    VirtualProtect(page, 4096, PAGE_READWRITE | PAGE_GUARD, &previous);
    return static_cast<volatile int32_t*>(page);
}

void RaiseStructured(DWORD code) {
    if (code == EXCEPTION_ACCESS_VIOLATION)
        *InaccessibleAddress() = 1;
    if (code == EXCEPTION_GUARD_PAGE)
        *GuardPage() = 1;
    if (code == EXCEPTION_BREAKPOINT)
        __asm__ volatile("int3"); // a breakpoint left in a release build
    if (code == EXCEPTION_STACK_OVERFLOW)
        OverflowStack(nullptr);
    RaiseException(code, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

SimCall& AppendLog(int ordinal) {
    SimCall& call = g_state.log[g_state.logged % kLogCapacity];
    memset(&call, 0, sizeof call);
    call.ordinal = ordinal;
    call.threadId = GetCurrentThreadId();
    call.startTicks = Now();
    ++g_state.logged;
    return call;
}

// Where a call was logged, so that its end can be stamped: -1 when not logged.
struct LogPlace {
    int index = -1;
    int resets = 0;
};

// Under the lock: the call waits out its delay, unless SimEndDelays cuts it
// short. Timed on the performance counter: the tick count moves in steps too
// coarse for a delay of a few milliseconds.
void WaitOutDelay(DWORD delay) {
    const int round = g_state.delayRound;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const int64_t deadline = Now() + static_cast<int64_t>(delay) * frequency.QuadPart / 1000;
    for (int64_t left = deadline - Now(); left > 0 && round == g_state.delayRound;
         left = deadline - Now()) {
        const DWORD ms =
            static_cast<DWORD>((left * 1000 + frequency.QuadPart - 1) / frequency.QuadPart);
        SleepConditionVariableCS(&g_state.delaysEnded, &g_state.lock, ms);
    }
}

// Under the lock: stamps the end of the call and wakes those waiting for it.
void NoteReturned(int ordinal, const LogPlace& place) {
    --g_state.inLibrary;
    if (place.index >= 0 && place.resets == g_state.resets &&
        place.index >= g_state.logged - kLogCapacity)
        g_state.log[place.index % kLogCapacity].endTicks = Now();
    ++g_state.scripts[ordinal].returned;
    WakeAllConditionVariable(&g_state.callReturned);
}

// Every ordinal goes through here: log, delay, result or exception.
template <typename Fill, typename Apply> int32_t Call(int ordinal, Fill fill, Apply apply) {
    DWORD delay;
    int32_t result = 0;
    DWORD raiseCode = 0;
    Outcome outcome;
    LogPlace place;
    {
        Locked locked;
        SimCall* entry = nullptr;
        if (ordinal != 16 || g_state.logService) {
            place = LogPlace{g_state.logged, g_state.resets};
            entry = &AppendLog(ordinal);
            fill(*entry);
        }
        outcome = NextResult(ordinal, &result, &raiseCode);
        if (entry != nullptr)
            entry->result = result;
        delay = g_state.scripts[ordinal].delayMs;
        g_state.overlaps += g_state.inLibrary > 0;
        ++g_state.inLibrary;
    }
    {
        Locked locked;
        if (delay != 0)
            WaitOutDelay(delay);
        if (outcome == Outcome::kReturn)
            apply(result);
        NoteReturned(ordinal, place);
    }
    if (outcome == Outcome::kThrow)
        throw std::runtime_error("simulated device library failure");
    if (outcome == Outcome::kRaise)
        RaiseStructured(raiseCode);
    return result;
}

void NoFill(SimCall&) {}
void NoApply(int32_t) {}

} // namespace

bool SimKeyTarget(HWND* window, UINT* message) {
    Locked locked;
    *window = g_state.keyWindow;
    *message = g_state.keyMessage;
    return g_state.keyWindow != nullptr;
}

// ---- The device library's ordinals ----

extern "C" int32_t QornTI_OpenLink(const wchar_t* portName, int32_t reserved) {
    return Call(
        15,
        [&](SimCall& c) {
            c.args[0] = reserved;
            if (portName != nullptr)
                wcsncpy(c.portName, portName, kSimPortChars - 1);
            wcsncpy(g_state.openingPort, c.portName, kSimPortChars);
        },
        [](int32_t result) {
            if (result > 0) {
                g_state.linkOpen = true;
                g_state.asleep = false;
            }
        });
}

extern "C" int32_t QornTI_RegisterKeyWindow(UINT message, HWND window, uint8_t flag) {
    return Call(
        14,
        [&](SimCall& c) {
            c.args[0] = static_cast<int32_t>(message);
            c.args[1] = flag;
            c.window = window;
        },
        [&](int32_t) {
            g_state.keyWindow = window;
            g_state.keyMessage = message;
        });
}

extern "C" int32_t QornTI_ReadSize(uint8_t* first, uint8_t* second) {
    return Call(10, NoFill, [&](int32_t result) {
        if (result >= 0) {
            *first = g_state.size[0];
            *second = g_state.size[1];
        }
    });
}

extern "C" int32_t QornTI_WriteCells(int32_t reserved, uint8_t count, const uint8_t* cells) {
    return Call(
        3,
        [&](SimCall& c) {
            c.args[0] = reserved;
            c.args[1] = count;
            if (cells != nullptr)
                memcpy(c.cells, cells, count);
        },
        [&](int32_t result) {
            if (result >= 1 && cells != nullptr && !g_state.asleep) {
                memcpy(g_state.shown, cells, count);
                g_state.shownCount = count;
            }
        });
}

extern "C" int32_t QornTI_ReadDeviceData(uint8_t* first, uint8_t* second, uint8_t* third) {
    return Call(9, NoFill, [&](int32_t result) {
        if (result > 0) {
            *first = g_state.deviceData[0];
            *second = g_state.deviceData[1];
            *third = g_state.deviceData[2];
        }
    });
}

namespace {
// A timer procedure of the library's own: the threads it ran on are counted.
std::atomic<int> g_ownTimerRuns{0};
std::atomic<DWORD> g_ownTimerThread{0};

void CALLBACK OwnTimerProc(HWND, UINT, UINT_PTR, DWORD) {
    g_ownTimerThread = GetCurrentThreadId();
    ++g_ownTimerRuns;
}
} // namespace

extern "C" int32_t QornTI_Service(void) {
    return Call(16, NoFill, NoApply);
}

extern "C" int32_t QornTI_CloseLink(void) {
    return Call(2, NoFill, [](int32_t) { g_state.linkOpen = false; });
}

// ---- Control interface ----

SIM_API void SimReset() {
    Locked locked;
    for (OrdinalScript& script : g_state.scripts)
        script = OrdinalScript{};
    g_state.logged = 0;
    ++g_state.resets;
    g_state.overlaps = 0;
    g_state.logService = true;
    g_state.present = true;
    g_state.linkOpen = false;
    g_state.asleep = false;
    g_state.displayPort[0] = L'\0';
    g_state.size[0] = g_state.size[1] = 12;
    g_state.deviceData[0] = 1;
    g_state.deviceData[1] = 4;
    g_state.deviceData[2] = 2;
    g_state.shownCount = 0;
    memset(g_state.shown, 0, sizeof g_state.shown);
    g_state.keyWindow = nullptr;
    g_state.keyMessage = 0;
}

SIM_API void SimSetPresent(int present) {
    Locked locked;
    g_state.present = present != 0;
    if (!g_state.present)
        g_state.linkOpen = false;
}

namespace {
bool ValidOrdinal(int ordinal) {
    return ordinal >= 0 && ordinal < kOrdinalSlots;
}
} // namespace

SIM_API void SimSetResult(int ordinal, int32_t result) {
    if (!ValidOrdinal(ordinal))
        return;
    Locked locked;
    g_state.scripts[ordinal].hasFixed = true;
    g_state.scripts[ordinal].fixed = result;
}

SIM_API void SimClearResult(int ordinal) {
    if (!ValidOrdinal(ordinal))
        return;
    Locked locked;
    g_state.scripts[ordinal].hasFixed = false;
    g_state.scripts[ordinal].queued.clear();
}

SIM_API void SimQueueResults(int ordinal, const int32_t* results, int count) {
    if (!ValidOrdinal(ordinal) || results == nullptr)
        return;
    Locked locked;
    for (int i = 0; i < count; ++i)
        g_state.scripts[ordinal].queued.push_back(results[i]);
}

SIM_API void SimSetDelay(int ordinal, DWORD milliseconds) {
    if (!ValidOrdinal(ordinal))
        return;
    Locked locked;
    g_state.scripts[ordinal].delayMs = milliseconds;
}

SIM_API void SimThrowOnNext(int ordinal, int count) {
    if (!ValidOrdinal(ordinal))
        return;
    Locked locked;
    g_state.scripts[ordinal].throwCount = count;
}

SIM_API void SimRaiseOnNext(int ordinal, int count, DWORD code) {
    if (!ValidOrdinal(ordinal))
        return;
    Locked locked;
    g_state.scripts[ordinal].raiseCount = count;
    g_state.scripts[ordinal].raiseCode = code;
}

SIM_API void SimSetSize(uint8_t first, uint8_t second) {
    Locked locked;
    g_state.size[0] = first;
    g_state.size[1] = second;
}

SIM_API void SimSetDeviceData(uint8_t first, uint8_t second, uint8_t third) {
    Locked locked;
    g_state.deviceData[0] = first;
    g_state.deviceData[1] = second;
    g_state.deviceData[2] = third;
}

SIM_API void SimSetLogService(int logIt) {
    Locked locked;
    g_state.logService = logIt != 0;
}

SIM_API int SimCallCount() {
    Locked locked;
    return g_state.logged;
}

SIM_API int SimCountCalls(int ordinal) {
    if (!ValidOrdinal(ordinal))
        return 0;
    Locked locked;
    return g_state.scripts[ordinal].calls;
}

SIM_API int SimWaitCallsReturned(int ordinal, int count, DWORD timeoutMs) {
    if (!ValidOrdinal(ordinal))
        return 0;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    Locked locked;
    while (g_state.scripts[ordinal].returned < count) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return 0;
        SleepConditionVariableCS(&g_state.callReturned, &g_state.lock,
                                 static_cast<DWORD>(deadline - now));
    }
    return 1;
}

SIM_API int SimGetCall(int index, SimCall* call) {
    Locked locked;
    if (call == nullptr || index < 0 || index >= g_state.logged ||
        index < g_state.logged - kLogCapacity)
        return 0;
    *call = g_state.log[index % kLogCapacity];
    return 1;
}

SIM_API int SimGetCells(uint8_t* cells, int size) {
    Locked locked;
    if (cells == nullptr || size <= 0)
        return g_state.shownCount;
    memcpy(cells, g_state.shown, static_cast<size_t>(std::min(size, g_state.shownCount)));
    return g_state.shownCount;
}

SIM_API int SimIsLinkOpen() {
    Locked locked;
    return g_state.linkOpen ? 1 : 0;
}

SIM_API HWND SimGetKeyWindow() {
    Locked locked;
    return g_state.keyWindow;
}

SIM_API int SimOverlaps() {
    Locked locked;
    return g_state.overlaps;
}

SIM_API void SimEndDelays() {
    Locked locked;
    ++g_state.delayRound;
    WakeAllConditionVariable(&g_state.delaysEnded);
}

SIM_API void SimSleep() {
    Locked locked;
    g_state.asleep = true;
    g_state.keyWindow = nullptr;
    g_state.shownCount = 0; // it shows nothing until cells reach it again
    memset(g_state.shown, 0, sizeof g_state.shown);
}

SIM_API void SimSetDisplayPort(const wchar_t* port) {
    Locked locked;
    g_state.displayPort[0] = L'\0';
    if (port != nullptr)
        wcsncpy(g_state.displayPort, port, kSimPortChars - 1);
    // A link open on another port is gone: writes fail, keys go nowhere.
    if (g_state.displayPort[0] != L'\0' &&
        _wcsicmp(g_state.displayPort, g_state.openingPort) != 0) {
        g_state.linkOpen = false;
        g_state.keyWindow = nullptr;
    }
}

SIM_API TIMERPROC SimOwnTimerProc() {
    g_ownTimerRuns = 0;
    return OwnTimerProc;
}

SIM_API int SimOwnTimerRuns(DWORD* lastThread) {
    *lastThread = g_ownTimerThread;
    return g_ownTimerRuns;
}
