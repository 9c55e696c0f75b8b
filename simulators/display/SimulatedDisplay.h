// Control interface of the simulated display: a stand-in QornTI.dll with the
// device library's seven ordinals, scripted results, a log of every call, the
// cells it shows, and key presses delivered to the registered window.
#pragma once

#include <cstdint>

#include <windows.h>

#ifdef QORN_SIM_DISPLAY_BUILD
#define SIM_API extern "C" __declspec(dllexport)
#else
#define SIM_API extern "C" __declspec(dllimport)
#endif

constexpr int kSimMaxCells = 256;
constexpr int kSimPortChars = 64;

struct SimCall {
    int ordinal;                     // 2, 3, 9, 10, 14, 15 or 16
    DWORD threadId;                  // the calling thread
    int32_t result;                  // what the call returned (0 when it threw)
    int64_t startTicks;              // QueryPerformanceCounter when the call came in
    int64_t endTicks;                // ... when it returned (or threw); 0 while in progress
    int32_t args[2];                 // 15: reserved; 14: message, flag; 3: reserved, count
    HWND window;                     // 14
    wchar_t portName[kSimPortChars]; // 15, cut to fit
    uint8_t cells[kSimMaxCells];     // 3
};

// Back to a present, idle display: log emptied, every script dropped, link closed.
SIM_API void SimReset();

// A present display opens, writes and reports its size; an absent one (dropped
// off the link) fails each of these with 0 (size with -1) unless scripted.
SIM_API void SimSetPresent(int present);
// The computer sleeps: the link is lost without a word until it is opened
// again; the display shows nothing, writes still answer success but show
// nothing either, and the key window's registration is gone.
SIM_API void SimSleep();
// The display answers an open only on this port name (any letter case); null
// or empty: on any name. As after re-pairing, which gives it a new port: a
// link open on another name is gone (writes fail, keys go nowhere).
SIM_API void SimSetDisplayPort(const wchar_t* port);
// Fixed result of every call of an ordinal, in place of the computed one.
SIM_API void SimSetResult(int ordinal, int32_t result);
SIM_API void SimClearResult(int ordinal);
// Results used one per call before anything else.
SIM_API void SimQueueResults(int ordinal, const int32_t* results, int count);
// Every call of the ordinal takes this long.
SIM_API void SimSetDelay(int ordinal, DWORD milliseconds);
// The calls under way return now, whatever is left of their delay.
SIM_API void SimEndDelays();
// The next count calls of the ordinal throw a C++ exception.
SIM_API void SimThrowOnNext(int ordinal, int count);
// The next count calls of the ordinal raise a structured exception with this
// code instead of returning; EXCEPTION_ACCESS_VIOLATION is a real access to an
// inaccessible page, EXCEPTION_GUARD_PAGE a real touch of a guard page,
// EXCEPTION_BREAKPOINT a real int3, EXCEPTION_STACK_OVERFLOW a real overflow
// of the stack.
// Another compiler's C++ runtime raises its exceptions this way too (code
// 0xE06D7363 for Microsoft's).
SIM_API void SimRaiseOnNext(int ordinal, int count, DWORD code);
SIM_API void SimSetSize(uint8_t first, uint8_t second);
SIM_API void SimSetDeviceData(uint8_t first, uint8_t second, uint8_t third);
// A timer procedure inside the library, as Windows names one in the lParam
// of WM_TIMER; how often it ran since this was asked, and on which thread last.
SIM_API TIMERPROC SimOwnTimerProc();
SIM_API int SimOwnTimerRuns(DWORD* lastThread);
// Leave the service calls (ordinal 16) out of the log; they are still counted.
SIM_API void SimSetLogService(int logIt);

// The log: calls are numbered from 0 since the last reset; the newest 4096 are kept.
SIM_API int SimCallCount();
SIM_API int SimCountCalls(int ordinal);
// Waits until count calls of the ordinal (counted since the last reset) have
// returned; 1 if they have within the time, else 0.
SIM_API int SimWaitCallsReturned(int ordinal, int count, DWORD timeoutMs);
SIM_API int SimGetCall(int index, SimCall* call);
// Calls that came in while another call was still under way, since the last reset.
SIM_API int SimOverlaps();

// What the display shows: the cells of the last successful write.
SIM_API int SimGetCells(uint8_t* cells, int size);
SIM_API int SimIsLinkOpen();
SIM_API HWND SimGetKeyWindow();

// Key presses, delivered in order from the display's own thread, each as the
// registered message with the address of a three-byte record.
SIM_API void SimPressKey(uint8_t dotKeys, uint8_t controlKeys, uint8_t routingKey);
SIM_API int SimWaitKeysDelivered(DWORD timeoutMs);
SIM_API int SimKeysDelivered();
// Keys the window answered with anything but 0, since the library was loaded.
SIM_API int SimKeyAnswersNotZero();
// QueryPerformanceCounter taken right before the latest key press was sent to
// the window; 0 before the first.
SIM_API int64_t SimLastKeySentTicks();
