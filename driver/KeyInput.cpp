#include "KeyInput.h"

#include <atomic>

#include <dbt.h>

#include "CommandChannel.h"
#include "DeviceLibrary.h"
#include "ExceptionShield.h"
#include "HostWait.h"
#include "KeyNames.h"
#include "ModulePin.h"
#include "NotifyWindow.h"
#include "SampleDriver.h"
#include "Session.h"
#include "TypedCharacter.h"

namespace {

// After a wake nothing tells the driver that the library's link and its key
// window's registration are gone, and a library whose writes still answer
// success never says so: so the link closes before the computer sleeps and is
// brought up again after every wake (the link's decision, LinkPolicy.h, says
// when). Any program can broadcast these messages: the window only notes the
// latest and queues one power command while none waits, and never waits.
LRESULT OnPowerBroadcast(CBrailleSampleDriver* driver, WPARAM event) {
    const bool sleeps = event == PBT_APMSUSPEND;
    const bool wakes = event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND ||
                       event == PBT_APMRESUMECRITICAL;
    const SessionRef session = sleeps || wakes ? CurrentSession(driver) : SessionRef();
    if (session) {
        session->latestPower = sleeps ? LinkEvent::kSleep : LinkEvent::kWake;
        QueueCommandOnce(*session, kCmdPower);
    }
    return TRUE;
}

// Windows tells every top-level window when a serial port comes or goes
// (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE, with a DEV_BROADCAST_PORT) and
// when the device tree changed (DBT_DEVNODES_CHANGED, no data): a display
// paired again may have a new port. Any program can send these too, so the
// window believes nothing in them: each is the hint that the device records
// may have changed, queued to the worker while none waits, and answered at once.
LRESULT OnDeviceChange(CBrailleSampleDriver* driver, WPARAM event) {
    const bool hint = event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE ||
                      event == DBT_DEVNODES_CHANGED;
    if (const SessionRef session = hint ? CurrentSession(driver) : SessionRef())
        QueueCommandOnce(*session, kCmdDevicesChanged);
    return TRUE;
}

// The way out of a key delivery (KeyDeliveryExit.cpp) runs this on a pool
// thread, in the driver's code, which the delivery's hold keeps loaded until
// it has returned. A thread that has not left within the bound keeps the hold
// and its event: nothing goes from under it.
void CALLBACK LetGoOnceLeft(PTP_CALLBACK_INSTANCE instance, void* left) {
    if (WaitForSingleObject(left, qorn::kKeyExitWaitMs) != WAIT_OBJECT_0)
        return;
    CloseHandle(left);
    if (const HMODULE module = OwnModule())
        FreeLibraryWhenCallbackReturns(instance, module);
}

// The event a delivery that holds the library signals as it leaves, after
// which a pool thread lets go of the hold; null when that cannot be arranged
// (the hold is then kept for the rest of the process, which is safe). Manual
// reset: SignalObjectAndWait's wait on the event it has just set ends at once
// with WAIT_OBJECT_0, whether or not the pool thread woke first.
HANDLE ArrangeKeyDeliveryExit() {
    const HANDLE left = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (left != nullptr && !TrySubmitThreadpoolCallback(LetGoOnceLeft, left, nullptr)) {
        CloseHandle(left);
        return nullptr;
    }
    return left;
}

// Runs of the window procedure's work under way, on whichever thread. A Close
// from a thread other than the window's cuts the window off, then waits for
// these, so that no host callback runs once Close has returned.
std::atomic<long> g_inWindowProcedure{0};

struct InWindowProcedure {
    InWindowProcedure() { ++g_inWindowProcedure; }
    ~InWindowProcedure() { --g_inWindowProcedure; }
};

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

} // namespace

void AwaitWindowProcedure(const Deadline& deadline, DWORD leaveMs) {
    while (g_inWindowProcedure > 0 && deadline.Remaining() > leaveMs)
        WaitServingSentMessages(nullptr, Deadline(qorn::kKeyDeliveryPollMs));
}

// The window procedure's work. A key delivery holds the driver library loaded
// until its thread has left the driver's code (*leaving, KeyDeliveryExit.cpp),
// which answers the message with 0.
extern "C" LRESULT QornNotifyWindowBody(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                        HANDLE* leaving) {
    const InWindowProcedure counted; // first: before anything that looks at the driver
    const bool ours = IsWindow(window) && window == g_driver.m_hNotifyWindow;
    if (ours && message == WM_POWERBROADCAST)
        return OnPowerBroadcast(&g_driver, wParam);
    if (ours && message == WM_DEVICECHANGE)
        return OnDeviceChange(&g_driver, wParam);
    if (!ours || message != WM_BRAILLE_KEY)
        return DefWindowProcA(window, message, wParam, lParam);
    KeyEvent keys;
    if (g_driver.m_pHostCallback != nullptr && ReadKeyRecord(lParam, &keys)) {
        const bool held = PinOwnModule() != nullptr;
        g_driver.OnBrailleKey(&keys);
        if (held)
            *leaving = ArrangeKeyDeliveryExit();
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
