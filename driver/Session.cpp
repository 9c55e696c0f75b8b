#include "Session.h"

#include <cwchar>

#include "SampleDriver.h"
#include "ScopedLock.h"

static std::atomic<uint64_t> g_sessionsMade{0};

DriverSession::DriverSession(CBrailleSampleDriver* owner)
    : driver(owner), serial(++g_sessionsMade), cellCount(owner->m_cellCount.load()),
      statusCellCount(owner->m_statusCellCount.load()) {}

DriverSession::~DriverSession() {
    if (thread != nullptr)
        CloseHandle(thread);
    if (ackEvent != nullptr)
        CloseHandle(ackEvent);
}

SessionRef CurrentSession(CBrailleSampleDriver* driver) {
    ScopedLock locked(&driver->m_sessionLock);
    return driver->m_session;
}

void MakeCurrent(const SessionRef& session) {
    CBrailleSampleDriver* driver = session->driver;
    ScopedLock locked(&driver->m_sessionLock);
    driver->m_session = session;
    driver->m_hWorkerThread = session->thread;
    driver->m_workerThreadId = session->threadId;
    driver->m_hAckEvent = session->ackEvent;
}

void Detach(DriverSession& session) {
    CBrailleSampleDriver* driver = session.driver;
    SessionRef released; // let go of outside the lock
    {
        ScopedLock locked(&driver->m_sessionLock);
        if (driver->m_session.get() != &session)
            return;
        released = std::move(driver->m_session);
        driver->m_hWorkerThread = nullptr;
        driver->m_workerThreadId = 0;
        driver->m_hAckEvent = nullptr;
        driver->m_linkUp = 0;
        driver->m_linkStale = 0;
    }
}

void PublishLinkState(const DriverSession& session, bool linkCameUp) {
    CBrailleSampleDriver* driver = session.driver;
    ScopedLock locked(&driver->m_sessionLock);
    if (driver->m_session.get() != &session)
        return;
    driver->m_linkUp = LinkIsUp(session.link);
    driver->m_linkStale = session.link.link == LinkCondition::kStale;
    driver->m_writeFailures = session.link.writeFailures;
    driver->m_cellCount = session.cellCount.load();
    driver->m_statusCellCount = session.statusCellCount.load();
    wmemcpy(driver->m_portNameW, session.portNameW, qorn::kPortNameChars + 1);
    if (linkCameUp) {
        driver->m_skippedWrites = 0;
        driver->m_skipLimit = qorn::kSkipLimitNormal;
        driver->m_relinkRequests = 0;
    }
}
