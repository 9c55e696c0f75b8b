// Opening, closing and suspending the display.
#include <cstring>
#include <string>

#include "Clock.h"
#include "CommandChannel.h"
#include "DebugReport.h"
#include "DiscoveryThread.h"
#include "NotifyWindow.h"
#include "PortText.h"
#include "SampleDriver.h"
#include "WorkerThread.h"

namespace {

// Holds the driver's lifecycle lock for a scope (recursively).
class LifecycleGuard {
public:
    explicit LifecycleGuard(CBrailleSampleDriver* driver) : lock_(&driver->m_lifecycleLock) {
        EnterCriticalSection(lock_);
    }
    ~LifecycleGuard() { LeaveCriticalSection(lock_); }
    LifecycleGuard(const LifecycleGuard&) = delete;
    LifecycleGuard& operator=(const LifecycleGuard&) = delete;

private:
    CRITICAL_SECTION* lock_;
};

void ReleaseEventAndWindow(CBrailleSampleDriver* driver) {
    if (driver->m_hAckEvent != nullptr)
        CloseHandle(driver->m_hAckEvent);
    driver->m_hAckEvent = nullptr;
    DestroyNotifyWindow(driver->m_hNotifyWindow);
    driver->m_hNotifyWindow = nullptr;
}

// The stop sequence, all of it within kHostWaitBudgetMs. A worker that does not
// answer in time is stuck in the device library: it is abandoned.
void StopWorker(CBrailleSampleDriver* driver) {
    const Deadline deadline(qorn::kHostWaitBudgetMs);
    bool closed = false, quit = false;
    PostCommandWithin(driver, kCmdClose, nullptr, 0, deadline.Remaining(), &closed);
    Sleep(qorn::kStopPauseMs);
    if (closed)
        PostCommandWithin(driver, kCmdQuit, nullptr, 0, deadline.Remaining(), &quit);
    if (quit)
        ReleaseWorker(driver, deadline.Remaining());
    else
        AbandonWorker(driver, closed ? L"the wait for the quit command"
                                     : L"the wait for the close command");
}

// Whatever an earlier session left (a running worker, its event, a window made
// by a resume after Close) is released before a new one starts.
void EndEarlierSession(CBrailleSampleDriver* driver) {
    if (driver->m_hWorkerThread != nullptr)
        StopWorker(driver);
    ReleaseEventAndWindow(driver);
}

// Runs the discovery for at most its bound; a port it found replaces the text.
void DiscoverPort(CBrailleSampleDriver* driver, std::string& workingPort) {
    driver->m_discoveryCompleted = 0;
    DiscoveryThread thread;
    if (!StartDiscovery(thread))
        return;
    driver->m_hDiscoveryThread = thread.handle;
    driver->m_discoveryThreadId = thread.id;
    DiscoveryResult result;
    const bool ended = FinishDiscovery(thread, qorn::kDriverDiscoveryTimeoutMs, result);
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
bool OpenLinkOnWorker(CBrailleSampleDriver* driver, const std::string& workingPort,
                      const Deadline& linkBound) {
    driver->m_openAnswer = kOpenAwaited;
    bool answered = false;
    const int posted = PostCommandWithin(driver, kCmdOpen, workingPort.data(),
                                         static_cast<int32_t>(workingPort.size()),
                                         linkBound.Remaining(), &answered);
    const long answer = driver->m_openAnswer.exchange(kOpenGaveUp);
    if (!posted)
        return false;
    if (answered)
        return driver->m_cellCount > 0;
    if (answer == kOpenSawNoCells)
        return false;
    ReportToDebugger(L"Open's wait for the link (%lu ms) gave up; the link comes up on the "
                     L"worker when the device library answers",
                     static_cast<unsigned long>(qorn::kOpenLinkWaitMs));
    return true;
}

// On success, *linkTimeLeftMs is what is left of Open's bound for the link.
bool StartSession(CBrailleSampleDriver* driver, const std::string& workingPort,
                  DWORD* linkTimeLeftMs) {
    driver->m_hAckEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (driver->m_hAckEvent == nullptr) {
        ReleaseEventAndWindow(driver);
        return false;
    }
    ResetEvent(driver->m_hAckEvent);
    if (!StartWorker(driver)) {
        ReleaseEventAndWindow(driver);
        return false;
    }
    if (!AwaitWorkerReady(driver, qorn::kWorkerReadyTimeoutMs)) {
        ReleaseEventAndWindow(driver);
        return false;
    }
    const Deadline linkBound(qorn::kOpenLinkWaitMs);
    if (!OpenLinkOnWorker(driver, workingPort, linkBound)) {
        StopWorker(driver);
        ReleaseEventAndWindow(driver);
        return false;
    }
    *linkTimeLeftMs = linkBound.Remaining();
    return true;
}

// The worker registers the window with the device library, which may take as
// long as it likes: Open waits only for what is left of its bound for the
// link, and not at all when an open of the link still runs on the worker
// (the registration then follows it there).
void RegisterKeyWindowOnWorker(CBrailleSampleDriver* driver, HWND window, DWORD waitMs) {
    if (waitMs == 0) {
        PostCommand(driver, kCmdRegisterKeyWindow, &window, sizeof window, false);
        return;
    }
    bool registered = false;
    if (PostCommandWithin(driver, kCmdRegisterKeyWindow, &window, sizeof window, waitMs,
                          &registered) &&
        !registered)
        ReportToDebugger(L"Open's wait for the key window's registration (%lu ms) gave up; the "
                         L"worker registers it when the device library answers",
                         static_cast<unsigned long>(waitMs));
}

} // namespace

int32_t CBrailleSampleDriver::Open(const char* port, IBrailleHostCallback* callback,
                                   const char* text1, const char* text2) {
    const LifecycleGuard serialised(this);
    DWORD linkTimeLeftMs = 0;
    try {
        EndEarlierSession(this);
        std::string workingPort = UpperCasePortText(port);
        if (AsksForDiscovery(workingPort))
            DiscoverPort(this, workingPort);
        if (!StartSession(this, workingPort, &linkTimeLeftMs))
            return 0;
    } catch (...) {
        return 0; // no memory for the port text
    }
    m_pHostCallback = callback;
    CopyHostText(m_hostText1, text1);
    CopyHostText(m_hostText2, text2);
    RegisterNotifyWindowClass(g_moduleHandle); // fails harmlessly after the first Open
    m_hNotifyWindow = CreateNotifyWindow(g_moduleHandle);
    m_opened = 1;
    m_suspended = 0;
    RegisterKeyWindowOnWorker(this, m_hNotifyWindow, linkTimeLeftMs);
    return 1;
}

void CBrailleSampleDriver::Close() {
    const LifecycleGuard serialised(this);
    if (!m_opened)
        return;
    StopWorker(this);
    ReleaseEventAndWindow(this);
}

int32_t CBrailleSampleDriver::SetSuspended(int32_t suspend) {
    const LifecycleGuard serialised(this);
    m_suspended = static_cast<uint32_t>(suspend);
    if (suspend != 0) {
        DestroyNotifyWindow(m_hNotifyWindow);
        m_hNotifyWindow = nullptr;
    } else if (m_hNotifyWindow == nullptr) {
        m_hNotifyWindow = CreateNotifyWindow(g_moduleHandle);
    }
    // A worker busy in the device library past the bound keeps the command
    // queued and carries it out once the call returns: the driver stays open.
    return PostCommand(this, kCmdSuspend, nullptr, suspend, true);
}
