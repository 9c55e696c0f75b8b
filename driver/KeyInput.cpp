#include "KeyInput.h"

#include <atomic>

#include "DebugReport.h"
#include "DeviceLibrary.h"
#include "ExceptionShield.h"
#include "HostWait.h"
#include "KeyDeliveryExit.h"
#include "KeyNames.h"
#include "NotifyWindow.h"
#include "PowerEvents.h"
#include "SampleDriver.h"
#include "TypedCharacter.h"

namespace {

// Key events being delivered to the host, and the thread of the latest: a
// Close from another thread waits for them, so that no host callback runs
// once Close has returned.
std::atomic<long> g_deliveries{0};
std::atomic<DWORD> g_deliveryThread{0};

// A read that hit a guard page took the guard away from whoever owns the page
// (a thread's stack, say), which needs it back.
void RestoreGuardPage(ULONG_PTR address) {
    MEMORY_BASIC_INFORMATION info;
    DWORD previous = 0;
    void* page = reinterpret_cast<void*>(address);
    if (VirtualQuery(page, &info, sizeof info) != 0)
        VirtualProtect(page, 1, info.Protect | PAGE_GUARD, &previous);
}

// The record lies in the device library's memory, or anywhere at all in a
// message another program sent: it is read inside the shield, so a bad or
// freed address costs the event, never the host.
bool ReadKeyRecord(LPARAM lParam, KeyEvent* keys) {
    const auto* record = reinterpret_cast<const KeyEvent*>(lParam);
    auto read = [&] { *keys = *record; };
    ShieldedFault fault;
    if (RunShieldedStep(read, &fault))
        return true;
    if (fault.code == EXCEPTION_GUARD_PAGE)
        RestoreGuardPage(fault.address);
    return false;
}

// Counted while it runs. The host's callbacks run inside the shield too: an
// exception they let escape ends this event, not the count or the thread.
void Deliver(CBrailleSampleDriver* driver, const KeyEvent& keys) {
    g_deliveryThread = GetCurrentThreadId();
    ++g_deliveries;
    auto deliver = [&] { driver->OnBrailleKey(&keys); };
    ShieldedFault fault;
    if (!RunShieldedStep(deliver, &fault))
        ReportToDebugger(L"the host's key callback raised 0x%08lX; that key event ends there",
                         static_cast<unsigned long>(fault.code));
    --g_deliveries;
}

} // namespace

void AwaitKeyDeliveriesElsewhere(const Deadline& deadline, DWORD leaveMs) {
    while (g_deliveries > 0 && g_deliveryThread != GetCurrentThreadId() &&
           deadline.Remaining() > leaveMs)
        WaitServingSentMessages(nullptr, Deadline(qorn::kKeyDeliveryPollMs));
}

// The window procedure's work. A key delivery holds the driver library loaded
// (*release) until the thread has left the driver's code (KeyDeliveryExit.h).
extern "C" LRESULT QornNotifyWindowBody(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        HMODULE* release) {
    if (message == WM_NCDESTROY)
        ForgetNotifyWindow(window);
    const bool ours = IsWindow(window) && window == g_driver.m_hNotifyWindow;
    if (ours && message == WM_POWERBROADCAST)
        return OnPowerBroadcast(&g_driver, wParam);
    if (!ours || message != WM_BRAILLE_KEY)
        return DefWindowProcA(window, message, wParam, lParam);
    KeyEvent keys;
    if (g_driver.m_pHostCallback != nullptr && ReadKeyRecord(lParam, &keys)) {
        *release = HoldDriverForKeyDelivery();
        Deliver(&g_driver, keys);
    }
    return 0;
}

// The three bytes are read once; a second event may be handled inside the
// host's KeyPressed, so nothing here is kept between events.
void CBrailleSampleDriver::OnBrailleKey(const KeyEvent* event) {
    const KeyEvent keys = *event;
    try {
        const KeyAction action = DecodeKeyEvent(keys);
        IBrailleHostCallback* host = m_pHostCallback;
        switch (action.kind) {
        case KeyAction::kKeyName:
            if (host != nullptr)
                host->KeyPressed(this, action.name.c_str(), action.routingKey);
            break;
        case KeyAction::kTypeDots:
            TypeDots(action.dotKeys);
            break;
        case KeyAction::kTypeSpace:
            TypeCharacter(kSpaceCharacter);
            break;
        case KeyAction::kNothing:
            break;
        }
    } catch (...) {
        // Out of memory for the name: the event is lost, the host's loop is not.
    }
}
