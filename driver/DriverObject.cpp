// The driver object: construction at load, the export that hands it out, and
// the unload step that runs when the library's static objects are destroyed.
#include <cstring>

#include "DeviceCalls.h"
#include "NotifyWindow.h"
#include "SampleDriver.h"

CBrailleSampleDriver g_driver;
HINSTANCE g_moduleHandle = nullptr;

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
      m_windowClassName(kWindowClassName), m_lastTicket(0), m_ackedTickets{},
      m_pWorkerLaunch(nullptr), m_linkMayBeOpen(0), m_openAnswer(kOpenNotAwaited),
      m_lastOutputMs(0), m_lastLinkAttemptMs(0), m_linkWanted(false), m_shownVersion(0) {}

// Unload: close a link that is still up. The host is expected to have closed the
// driver already; the worker, event and window are Close's to release. A worker
// the driver gave up on holds this library until it ends, so this runs only
// once no worker of the driver is left in the device library.
CBrailleSampleDriver::~CBrailleSampleDriver() {
    if (m_linkUp || m_linkMayBeOpen) {
        DeviceCloseLink();
        m_alive = 0;
        m_linkUp = 0;
    } else {
        m_alive = 0;
    }
    m_linkStale = 0;
    if (this == &g_driver) {
        RetireNotifyWindow(m_hNotifyWindow);
        m_hNotifyWindow = nullptr;
        UnregisterNotifyWindowClass(g_moduleHandle);
    }
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
