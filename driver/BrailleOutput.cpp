// Braille output: the host's write operations and the worker's cell writes.
#include "BrailleOutput.h"

#include <vector>

#include "Clock.h"
#include "CommandChannel.h"
#include "DeviceCalls.h"
#include "SampleDriver.h"
#include "Session.h"

namespace {
void SetSkipLimit(CBrailleSampleDriver* driver, int32_t limit) {
    driver->m_skipLimit = limit;
    driver->m_relinkRequests = 0;
}

// A call that finds the link up restarts the count of refused calls.
void NoteLinkFoundUp(CBrailleSampleDriver* driver) {
    driver->m_skippedWrites = 0;
    SetSkipLimit(driver, qorn::kSkipLimitNormal);
}

// Every output call tells the worker the host is not silent.
void NoteOutputCall(CBrailleSampleDriver* driver) {
    driver->m_lastOutputMs = MonotonicMs();
}

// While the link is down: counts the refused call and, every m_skipLimit + 1
// calls, asks the worker for a re-link.
void RefuseOutputCall(CBrailleSampleDriver* driver) {
    if (++driver->m_skippedWrites <= driver->m_skipLimit)
        return;
    if (const SessionRef session = CurrentSession(driver))
        QueueCommandOnce(*session, kCmdRelinkRequest);
    driver->m_skippedWrites = 0;
    if (++driver->m_relinkRequests > qorn::kRelinkRequestsBeforeBackoff)
        SetSkipLimit(driver, qorn::kSkipLimitBackoff);
}

// The common path of a cell write and a clear, once the cells are in place.
int32_t SendLatestCells(CBrailleSampleDriver* driver) {
    if (driver->m_suspended)
        return 0;
    if (!driver->m_linkUp) {
        RefuseOutputCall(driver);
        return 0;
    }
    NoteLinkFoundUp(driver);
    // A write already queued writes these cells too: at most one waits.
    const SessionRef session = CurrentSession(driver);
    return session ? QueueCommandOnce(*session, kCmdWrite) : 0;
}
} // namespace

int32_t CBrailleSampleDriver::WriteCells(const unsigned char* cells, int32_t count) {
    NoteOutputCall(this);
    if (cells == nullptr || count <= 0)
        return 0;
    if (!m_latestCells.Replace(cells, count))
        return 0; // no memory for them
    return SendLatestCells(this);
}

int32_t CBrailleSampleDriver::ClearDisplay() {
    NoteOutputCall(this);
    const uint8_t blank[qorn::kClearCellCount] = {};
    if (!m_latestCells.Replace(blank, qorn::kClearCellCount))
        return 0;
    return SendLatestCells(this); // the blank cells are the latest cells
}

// The display has no status cells: the worker discards what arrives here.
int32_t CBrailleSampleDriver::WriteStatusCells(const unsigned char* cells, int32_t length) {
    NoteOutputCall(this);
    if (m_suspended || cells == nullptr || length <= 0)
        return 0;
    return PostCommand(this, kCmdWriteStatus, cells, length);
}

void WriteLatestCells(DriverSession& session) {
    // The worker's own copy: the library may keep reading it for as long as
    // its call lasts, whatever the host writes meanwhile. A write command right
    // behind a link-up finds its cells already shown.
    std::vector<uint8_t> cells;
    uint64_t version = 0;
    if (!LinkIsUp(session.link) || !session.driver->m_latestCells.CopyOut(&cells, &version) ||
        version == session.shownVersion)
        return;
    const auto count = static_cast<uint8_t>(cells.size() & 0xFF);
    const bool written = DeviceWriteCells(session, count, cells.data()) >= 1;
    // The result is an event of the link's decision.
    ApplyLinkEvent(session.link, written ? LinkEvent::kWriteSucceeded : LinkEvent::kWriteFailed,
                   MonotonicMs());
    PublishLinkState(session);
    if (written)
        session.shownVersion = version;
}
