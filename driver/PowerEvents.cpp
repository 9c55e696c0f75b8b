#include "PowerEvents.h"

#include "CommandChannel.h"
#include "Session.h"

namespace {
bool Wakes(WPARAM event) {
    return event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND ||
           event == PBT_APMRESUMECRITICAL;
}
} // namespace

LRESULT OnPowerBroadcast(CBrailleSampleDriver* driver, WPARAM event) {
    const bool sleeps = event == PBT_APMSUSPEND;
    if (!sleeps && !Wakes(event))
        return TRUE;
    if (const SessionRef session = CurrentSession(driver))
        QueueCommandOnce(*session, sleeps ? kCmdSleep : kCmdWake);
    return TRUE;
}
