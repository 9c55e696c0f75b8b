#include "PowerEvents.h"

#include <algorithm>

#include "Clock.h"
#include "CommandChannel.h"
#include "DebugReport.h"
#include "LinkSupervision.h"
#include "SampleDriver.h"
#include "Session.h"

namespace {
bool Wakes(WPARAM event) {
    return event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND ||
           event == PBT_APMRESUMECRITICAL;
}

// The host still wants the display served.
bool HostWantsLink(const DriverSession& session) {
    return session.driver->m_alive && !session.driver->m_suspended && session.linkWanted;
}
} // namespace

LRESULT OnPowerBroadcast(CBrailleSampleDriver* driver, WPARAM event) {
    // The window exists only while the driver is open and not suspended; the
    // worker looks again when the command runs.
    const bool sleeps = event == PBT_APMSUSPEND;
    if (!sleeps && !Wakes(event))
        return TRUE;
    const SessionRef session = CurrentSession(driver);
    if (!session)
        return TRUE;
    std::atomic<bool>& pending = sleeps ? session->sleepPending : session->wakePending;
    if (!pending.exchange(true) &&
        !QueueCommand(*session, sleeps ? kCmdSleep : kCmdWake, nullptr, 0))
        pending = false;
    return TRUE;
}

void CloseLinkForSleep(DriverSession& session) {
    session.sleepPending = false;
    if (!HostWantsLink(session) || !session.linkUp)
        return;
    ReportToDebugger(L"the computer goes to sleep; the link is closed");
    CloseLink(session);
}

void ScheduleWakeRelink(DriverSession& session) {
    const uint64_t now = MonotonicMs();
    session.wakeDueMs =
        session.lastForcedRelinkMs == 0
            ? now
            : std::max(now, session.lastForcedRelinkMs + qorn::kForcedRelinkIntervalMs);
    RelinkIfWakeDue(session);
}

void RelinkIfWakeDue(DriverSession& session) {
    const uint64_t now = MonotonicMs();
    if (session.wakeDueMs == 0 || now < session.wakeDueMs)
        return;
    session.wakeDueMs = 0;
    if (HostWantsLink(session)) {
        ReportToDebugger(L"the computer woke; the link is brought up again");
        session.lastForcedRelinkMs = now;
        Relink(session);
    }
    session.wakePending = false;
}
