// Opening, closing and suspending the display: one session per successful
// Open (Session.h), one lifecycle call at a time (LifecycleTurn.h).
#include <cstring>
#include <string>

#include "CommandChannel.h"
#include "DebugReport.h"
#include "DiscoveryThread.h"
#include "HostWait.h"
#include "KeyInput.h"
#include "LifecycleTurn.h"
#include "NotifyWindow.h"
#include "PortText.h"
#include "SampleDriver.h"
#include "WorkerThread.h"

namespace {

// The key window: the driver's field, and the session's copy, which its worker
// registers with the library at every link-up.
void SetKeyWindow(CBrailleSampleDriver* driver, DriverSession* session, HWND window) {
    driver->m_hNotifyWindow = window;
    if (session != nullptr)
        session->keyWindow = window;
}

void ReleaseWindow(CBrailleSampleDriver* driver, DriverSession* session) {
    ReleaseNotifyWindow(driver->m_hNotifyWindow);
    SetKeyWindow(driver, session, nullptr);
}

// Runs the discovery for at most its bound; a port it found replaces the text.
void DiscoverPort(CBrailleSampleDriver* driver, std::string& workingPort) {
    driver->m_discoveryCompleted = 0;
    DiscoveryThread thread;
    if (!StartDiscovery(thread))
        return;
    driver->m_hDiscoveryThread = thread.handle;
    driver->m_discoveryThreadId = thread.id;
    WaitServingSentMessages(thread.handle, Deadline(qorn::kDriverDiscoveryTimeoutMs));
    DiscoveryResult result;
    const bool ended = FinishDiscovery(thread, 0, result);
    driver->m_hDiscoveryThread = nullptr;
    if (!ended || !result.completed)
        return;
    if (result.portName[0] != '\0')
        memcpy(driver->m_discoveredPort, result.portName, sizeof driver->m_discoveredPort);
    driver->m_discoveryCompleted = 1;
    workingPort.assign(driver->m_discoveredPort,
                       strnlen(driver->m_discoveredPort, sizeof driver->m_discoveredPort));
}

// Has the worker open the link, waiting at most until the deadline. An open
// still running then goes on on the worker; Open goes on with the 12 cells the
// open command set. False when the display reported no cells.
bool OpenLinkOnWorker(DriverSession& session, const std::string& workingPort,
                      const Deadline& linkBound) {
    bool answered = false;
    const int queued = QueueCommandWithin(session, kCmdOpen, workingPort.data(),
                                          static_cast<int32_t>(workingPort.size()),
                                          linkBound.Remaining(), &answered);
    const long answer = session.openAnswer.exchange(kOpenGaveUp);
    if (!queued)
        return false;
    if (answered)
        return session.cellCount > 0;
    if (answer == kOpenSawNoCells)
        return false;
    ReportToDebugger(L"Open's wait for the link (%lu ms) gave up; the link comes up on the "
                     L"worker when the device library answers",
                     static_cast<unsigned long>(qorn::kOpenLinkWaitMs));
    return true;
}

// Everything of Open up to a session whose link is open or coming up. After
// each wait, a Close left to this call stops it; the Close then ends whatever
// it started. On success, *linkTimeLeftMs is what is left of the link's bound.
SessionRef StartOpenSession(CBrailleSampleDriver* driver, const LifecycleTurn& turn,
                            const char* port, DWORD* linkTimeLeftMs) {
    if (const SessionRef earlier = CurrentSession(driver))
        StopSession(*earlier, Deadline(qorn::kHostWaitBudgetMs));
    ReleaseWindow(driver, nullptr); // one a resume made after Close
    std::string workingPort = UpperCasePortText(port);
    if (!turn.CloseLeft() && AsksForDiscovery(workingPort))
        DiscoverPort(driver, workingPort);
    if (turn.CloseLeft())
        return SessionRef();
    SessionRef session = StartSession(driver);
    if (!session)
        return session;
    if (!AwaitWorkerReady(*session, qorn::kWorkerReadyTimeoutMs)) {
        Detach(*session);
        return SessionRef();
    }
    const Deadline linkBound(qorn::kOpenLinkWaitMs);
    if (turn.CloseLeft())
        return SessionRef();
    driver->m_suspended = 0; // the host's suspension of an earlier session ends here
    if (!OpenLinkOnWorker(*session, workingPort, linkBound)) {
        StopSession(*session, Deadline(qorn::kHostWaitBudgetMs));
        return SessionRef();
    }
    if (turn.CloseLeft())
        return SessionRef();
    *linkTimeLeftMs = linkBound.Remaining();
    return session;
}

// The worker registers the window with the device library, which may take as
// long as it likes: Open waits only for what is left of its bound for the
// link, and not at all when an open of the link still runs on the worker
// (the registration then follows it there).
void RegisterKeyWindowOnWorker(DriverSession& session, DWORD waitMs) {
    bool registered = false;
    if (QueueCommandWithin(session, kCmdRegisterKeyWindow, nullptr, 0, waitMs, &registered) &&
        !registered && waitMs > 0)
        ReportToDebugger(L"Open's wait for the key window's registration (%lu ms) gave up; the "
                         L"worker registers it when the device library answers",
                         static_cast<unsigned long>(waitMs));
}

// Close's own work, within the bound, with the turn held.
void CloseInTurn(CBrailleSampleDriver* driver, const Deadline& bound) {
    const SessionRef session = CurrentSession(driver);
    if (!session && !driver->m_opened)
        return;
    // From a thread other than the window's: the window is released first, and
    // what its thread still runs of the window's procedure (a key being
    // delivered) is waited for.
    const HWND window = driver->m_hNotifyWindow;
    if (window != nullptr && !OwnedByThisThread(window)) {
        ReleaseWindow(driver, session.get());
        AwaitWindowProcedure(bound, qorn::kCloseStopReserveMs);
    }
    if (session)
        StopSession(*session, bound);
    else
        WaitServingSentMessages(nullptr, Deadline(qorn::kStopPauseMs)); // no worker to stop
    ReleaseWindow(driver, nullptr);
}

} // namespace

int32_t CBrailleSampleDriver::Open(const char* port, IBrailleHostCallback* callback,
                                   const char* text1, const char* text2) {
    LifecycleTurn turn(this, Deadline(qorn::kOpenTurnWaitMs), L"Open",
                       LifecycleTurn::IfMissed::kRefuse, CloseInTurn);
    if (!turn.held())
        return 0;
    DWORD linkTimeLeftMs = 0;
    SessionRef session;
    try {
        session = StartOpenSession(this, turn, port, &linkTimeLeftMs);
    } catch (...) {
        return 0; // no memory for the port text
    }
    if (!session)
        return 0;
    m_pHostCallback = callback;
    CopyHostText(m_hostText1, text1);
    CopyHostText(m_hostText2, text2);
    RegisterNotifyWindowClass(g_moduleHandle); // fails harmlessly after the first Open
    SetKeyWindow(this, session.get(), CreateNotifyWindow(g_moduleHandle));
    m_opened = 1;
    RegisterKeyWindowOnWorker(*session, linkTimeLeftMs);
    // A Close left to this Open closes it again, with a bound of its own.
    return turn.End(Deadline(qorn::kHostWaitBudgetMs)) ? 0 : 1;
}

void CBrailleSampleDriver::Close() {
    const Deadline bound(qorn::kHostWaitBudgetMs);
    LifecycleTurn turn(this, bound, L"Close", LifecycleTurn::IfMissed::kLeaveToCallUnderWay,
                       CloseInTurn);
    if (turn.held())
        CloseInTurn(this, bound);
    turn.End(bound);
}

int32_t CBrailleSampleDriver::SetSuspended(int32_t suspend) {
    const Deadline bound(qorn::kHostWaitBudgetMs);
    LifecycleTurn turn(this, bound, L"SetSuspended", LifecycleTurn::IfMissed::kRefuse, CloseInTurn);
    if (!turn.held())
        return 0;
    const SessionRef session = CurrentSession(this);
    // The worker may bring the link up as soon as the flag is clear: the new
    // window is in place by then, so that link-up registers it.
    if (suspend != 0) {
        m_suspended = static_cast<uint32_t>(suspend);
        ReleaseWindow(this, session.get());
    } else {
        if (m_hNotifyWindow == nullptr)
            SetKeyWindow(this, session.get(), CreateNotifyWindow(g_moduleHandle));
        m_suspended = 0;
    }
    // A worker busy in the device library past the bound keeps the command
    // queued and carries it out once the call returns: the driver stays open.
    const int32_t queued = session ? QueueCommandWithin(*session, kCmdSuspend, nullptr, suspend,
                                                        bound.Remaining(), nullptr)
                                   : 0;
    turn.End(bound); // a Close left to this call, within what is left of its bound
    return queued;
}
