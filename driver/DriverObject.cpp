// The driver object: construction at load, the export that hands it out, and
// the unload step that runs when the library's static objects are destroyed.
#include "NotifyWindow.h"
#include "SampleDriver.h"

CBrailleSampleDriver g_driver;
HINSTANCE g_moduleHandle = nullptr;
std::atomic<bool> g_processEnding{false};

namespace {
constexpr char kWindowClassName[] = "jQornDriver";
}

CBrailleSampleDriver::CBrailleSampleDriver()
    : m_opened(0), m_suspended(0), m_hostText1{}, m_hostText2{}, m_pHostCallback(nullptr),
      m_cellCount(0), m_statusCellCount(0), m_alive(1), m_linkUp(0), m_linkStale(0),
      m_writeFailures(0), m_skippedWrites(0), m_portNameW{}, m_discoveryThreadId(0),
      m_hDiscoveryThread(nullptr), m_discoveredPort{}, m_discoveryCompleted(0),
      m_skipLimit(qorn::kSkipLimitNormal), m_relinkRequests(0), m_hWorkerThread(nullptr),
      m_hAckEvent(nullptr), m_workerThreadId(0), m_hNotifyWindow(nullptr),
      m_windowClassName(kWindowClassName), m_sessionLock(SRWLOCK_INIT), m_turnOwner(0),
      m_closeLeft(false), m_hTurnFree(CreateEventA(nullptr, TRUE, TRUE, nullptr)),
      m_lastOutputMs(0) {}

// Unload: the link counts as down from here on, and nothing is left that can
// call into the code about to go. The step runs under the loader lock (or as
// the process ends), where a call into the device library could wait for
// ever, so it calls none: a link still open is the host's Close's to close
// (or, after a worker stuck in the library, that worker's as it ends). The
// worker and event are Close's to release, and so is the window, but for one
// a resume made after Close, released here; every worker, and every key
// delivery under way, holds this library until it ends, so this runs only
// once none is left.
CBrailleSampleDriver::~CBrailleSampleDriver() {
    m_alive = 0;
    m_linkUp = 0;
    m_linkStale = 0;
    if (g_processEnding)
        return; // the system reclaims everything; other threads are gone mid-step
    if (this == &g_driver) {
        ReleaseNotifyWindow(m_hNotifyWindow);
        UnregisterClassA(m_windowClassName, g_moduleHandle);
    }
    if (m_hTurnFree != nullptr)
        CloseHandle(m_hTurnFree);
}

extern "C" __declspec(dllexport) IBrailleDriver* GetBrailleInterface(IBrailleDriver** driver) {
    if (driver != nullptr)
        *driver = &g_driver;
    return &g_driver;
}

IBrailleHostCallback* CBrailleSampleDriver::SetHostCallback(IBrailleHostCallback* callback) {
    IBrailleHostCallback* previous = m_pHostCallback;
    m_pHostCallback = callback;
    return previous;
}
