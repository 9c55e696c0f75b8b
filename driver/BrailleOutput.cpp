// Braille output: the host's write operations and the worker's cell writes.
#include "BrailleOutput.h"

#include "CommandChannel.h"
#include "DeviceCalls.h"
#include "LinkSupervision.h"
#include "SampleDriver.h"

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
} // namespace

void RefuseOutputCall(CBrailleSampleDriver* driver) {
    if (++driver->m_skippedWrites <= driver->m_skipLimit)
        return;
    PostCommand(driver, kCmdSuspend, nullptr, 0, false); // resume flag 0: a re-link request
    driver->m_skippedWrites = 0;
    if (++driver->m_relinkRequests > qorn::kRelinkRequestsBeforeBackoff)
        SetSkipLimit(driver, qorn::kSkipLimitBackoff);
}

int32_t CBrailleSampleDriver::WriteCells(const unsigned char* cells, int32_t count) {
    if (m_suspended || cells == nullptr || count <= 0)
        return 0;
    if (!m_linkUp) {
        RefuseOutputCall(this);
        return 0;
    }
    NoteLinkFoundUp(this);
    return PostCommand(this, kCmdWrite, cells, count, false);
}

int32_t CBrailleSampleDriver::ClearDisplay() {
    if (m_suspended)
        return 0;
    if (!m_linkUp) {
        RefuseOutputCall(this);
        return 0;
    }
    NoteLinkFoundUp(this);
    return PostCommand(this, kCmdClear, nullptr, 0, false);
}

// The display has no status cells: the worker discards what arrives here.
int32_t CBrailleSampleDriver::WriteStatusCells(const unsigned char* cells, int32_t length) {
    if (m_suspended || cells == nullptr || length <= 0)
        return 0;
    return PostCommand(this, kCmdWriteStatus, cells, length, false);
}

void WriteCellsToDevice(CBrailleSampleDriver* driver, const uint8_t* cells, int32_t count) {
    if (!driver->m_linkUp)
        return;
    if (DeviceWriteCells(static_cast<uint8_t>(count & 0xFF), cells) >= 1) {
        driver->m_linkStale = 0;
        driver->m_writeFailures = 0;
        return;
    }
    if (++driver->m_writeFailures <= qorn::kStaleAfterFailures)
        return;
    driver->m_linkStale = 1;
    if (driver->m_writeFailures > qorn::kRelinkAfterFailures)
        Relink(driver);
}

void WriteBlankCellsToDevice(CBrailleSampleDriver* driver) {
    const uint8_t blank[qorn::kClearCellCount] = {};
    WriteCellsToDevice(driver, blank, qorn::kClearCellCount);
}
