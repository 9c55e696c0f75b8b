#include "Session.h"

#include <cwchar>

#include "SampleDriver.h"
#include "ScopedLock.h"

DriverSession::DriverSession(CBrailleSampleDriver* owner)
    : driver(owner), cellCount(owner->m_cellCount.load()),
      statusCellCount(owner->m_statusCellCount.load()) {}

DriverSession::~DriverSession() {
    if (thread != nullptr)
        CloseHandle(thread);
    if (ackEvent != nullptr)
        CloseHandle(ackEvent);
}

void ReleaseSession(DriverSession* session) {
    if (--session->references == 0)
        delete session;
}

SessionRef& SessionRef::operator=(SessionRef&& other) noexcept {
    if (this != &other) {
        if (session_ != nullptr)
            ReleaseSession(session_);
        session_ = other.session_;
        other.session_ = nullptr;
    }
    return *this;
}

SessionRef CurrentSession(CBrailleSampleDriver* driver) {
    ScopedLock locked(&driver->m_sessionLock);
    DriverSession* session = driver->m_pSession;
    if (session != nullptr)
        ++session->references;
    return SessionRef(session);
}

bool IsCurrent(const DriverSession& session) {
    ScopedLock locked(&session.driver->m_sessionLock);
    return session.driver->m_pSession == &session;
}

void MakeCurrent(DriverSession& session) {
    CBrailleSampleDriver* driver = session.driver;
    ++session.references; // the driver's
    ScopedLock locked(&driver->m_sessionLock);
    driver->m_pSession = &session;
    driver->m_hWorkerThread = session.thread;
    driver->m_workerThreadId = session.threadId;
    driver->m_hAckEvent = session.ackEvent;
}

void Detach(DriverSession& session) {
    CBrailleSampleDriver* driver = session.driver;
    {
        ScopedLock locked(&driver->m_sessionLock);
        if (driver->m_pSession != &session)
            return;
        driver->m_pSession = nullptr;
        driver->m_hWorkerThread = nullptr;
        driver->m_workerThreadId = 0;
        driver->m_hAckEvent = nullptr;
        driver->m_linkUp = 0;
        driver->m_linkStale = 0;
    }
    ReleaseSession(&session); // the driver's reference
}

void PublishLinkState(const DriverSession& session, LinkNews news) {
    CBrailleSampleDriver* driver = session.driver;
    ScopedLock locked(&driver->m_sessionLock);
    if (driver->m_pSession != &session)
        return;
    driver->m_linkUp = session.linkUp.load();
    driver->m_linkStale = session.linkStale.load();
    driver->m_writeFailures = session.writeFailures;
    driver->m_cellCount = session.cellCount.load();
    driver->m_statusCellCount = session.statusCellCount.load();
    wmemcpy(driver->m_portNameW, session.portNameW, qorn::kPortNameChars + 1);
    if (news == LinkNews::kCameUp) {
        driver->m_skippedWrites = 0;
        driver->m_skipLimit = qorn::kSkipLimitNormal;
        driver->m_relinkRequests = 0;
    }
}
