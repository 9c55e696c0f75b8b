#include "LifecycleTurn.h"

#include "DebugReport.h"
#include "HostWait.h"
#include "SampleDriver.h"
#include "ScopedLock.h"

LifecycleTurn::LifecycleTurn(CBrailleSampleDriver* driver, const Deadline& bound,
                             const wchar_t* name, IfMissed ifMissed, CloseWork closeLeft)
    : driver_(driver), closeLeft_(closeLeft) {
    const DWORD self = GetCurrentThreadId();
    for (;;) {
        {
            ScopedLock locked(&driver->m_sessionLock);
            if (driver->m_turnOwner == 0) {
                driver->m_turnOwner = self;
                ResetEvent(driver->m_hTurnFree);
                held_ = true;
                return;
            }
            if (driver->m_turnOwner == self || bound.Remaining() == 0) {
                if (ifMissed == IfMissed::kLeaveToCallUnderWay)
                    driver->m_closeLeft = true;
                break;
            }
        }
        WaitServingSentMessages(driver->m_hTurnFree, bound);
    }
    ReportToDebugger(L"%ls came while another Open, Close or SetSuspended was under way; %ls", name,
                     ifMissed == IfMissed::kRefuse ? L"not carried out" : L"left to that call");
}

bool LifecycleTurn::CloseLeft() const {
    return driver_->m_closeLeft;
}

bool LifecycleTurn::End(const Deadline& bound) {
    if (!held_)
        return false;
    bool closed = false;
    for (;;) {
        {
            ScopedLock locked(&driver_->m_sessionLock);
            if (!driver_->m_closeLeft) {
                driver_->m_turnOwner = 0;
                SetEvent(driver_->m_hTurnFree);
                held_ = false;
                return closed;
            }
            driver_->m_closeLeft = false;
        }
        closeLeft_(driver_, bound);
        closed = true;
    }
}
