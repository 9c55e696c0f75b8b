// The display's own thread that delivers key presses, one at a time and in
// order, to the window registered with the device library.
#include <deque>

#include "KeyEvent.h"
#include "SimulatedDisplay.h"
#include "SimulatedDisplayState.h"

namespace {

struct KeyQueue {
    CRITICAL_SECTION lock;
    HANDLE pending = nullptr; // auto-reset: presses are waiting
    HANDLE idle = nullptr;    // manual-reset: nothing queued or in delivery
    HANDLE thread = nullptr;
    std::deque<KeyEvent> presses;
    int delivered = 0;
    int answersNotZero = 0; // the window answered a key with anything but 0
    int64_t lastSentTicks = 0;

    KeyQueue() {
        InitializeCriticalSection(&lock);
        pending = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        idle = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    }
};

KeyQueue g_keys;

bool TakeNextPress(KeyEvent* press) {
    EnterCriticalSection(&g_keys.lock);
    const bool any = !g_keys.presses.empty();
    if (any) {
        *press = g_keys.presses.front();
        g_keys.presses.pop_front();
    } else {
        SetEvent(g_keys.idle);
    }
    LeaveCriticalSection(&g_keys.lock);
    return any;
}

void NoteSending() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    EnterCriticalSection(&g_keys.lock);
    g_keys.lastSentTicks = now.QuadPart;
    LeaveCriticalSection(&g_keys.lock);
}

// The record lives on this thread's stack while the window handles it.
void Deliver(const KeyEvent& press) {
    HWND window;
    UINT message;
    LRESULT answer = 0;
    if (SimKeyTarget(&window, &message)) {
        KeyEvent record = press;
        NoteSending();
        answer = SendMessageA(window, message, 0, reinterpret_cast<LPARAM>(&record));
    }
    EnterCriticalSection(&g_keys.lock);
    g_keys.answersNotZero += answer != 0;
    ++g_keys.delivered;
    LeaveCriticalSection(&g_keys.lock);
}

DWORD WINAPI KeyThread(void*) {
    for (;;) {
        WaitForSingleObject(g_keys.pending, INFINITE);
        KeyEvent press;
        while (TakeNextPress(&press))
            Deliver(press);
    }
}

} // namespace

SIM_API void SimPressKey(uint8_t dotKeys, uint8_t controlKeys, uint8_t routingKey) {
    EnterCriticalSection(&g_keys.lock);
    if (g_keys.thread == nullptr)
        g_keys.thread = CreateThread(nullptr, 0, KeyThread, nullptr, 0, nullptr);
    g_keys.presses.push_back(KeyEvent{dotKeys, controlKeys, routingKey});
    ResetEvent(g_keys.idle);
    LeaveCriticalSection(&g_keys.lock);
    SetEvent(g_keys.pending);
}

SIM_API int SimWaitKeysDelivered(DWORD timeoutMs) {
    return WaitForSingleObject(g_keys.idle, timeoutMs) == WAIT_OBJECT_0 ? 1 : 0;
}

SIM_API int SimKeysDelivered() {
    EnterCriticalSection(&g_keys.lock);
    const int delivered = g_keys.delivered;
    LeaveCriticalSection(&g_keys.lock);
    return delivered;
}

SIM_API int64_t SimLastKeySentTicks() {
    EnterCriticalSection(&g_keys.lock);
    const int64_t ticks = g_keys.lastSentTicks;
    LeaveCriticalSection(&g_keys.lock);
    return ticks;
}

SIM_API int SimKeyAnswersNotZero() {
    EnterCriticalSection(&g_keys.lock);
    const int answers = g_keys.answersNotZero;
    LeaveCriticalSection(&g_keys.lock);
    return answers;
}
