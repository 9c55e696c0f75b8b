#include "LinkSupervision.h"

#include <algorithm>
#include <cwchar>

#include "BrailleOutput.h"
#include "Clock.h"
#include "DeviceCalls.h"
#include "SampleDriver.h"
#include "WorkerOwnership.h"

namespace {

// The library gets a copy of the name: a call it never returns from keeps
// reading it long after this worker was given up and another took the field.
int32_t OpenOnPortName(CBrailleSampleDriver* driver) {
    wchar_t name[qorn::kPortNameChars + 1];
    wcsncpy(name, driver->m_portNameW, qorn::kPortNameChars);
    name[qorn::kPortNameChars] = L'\0';
    int32_t result = DeviceOpenLink(name);
    if (result >= 0)
        return result;
    wchar_t prefix[qorn::kPortNameChars + 1];
    if (PortNameBeforeColon(name, prefix, qorn::kPortNameChars + 1) > 0)
        result = DeviceOpenLink(prefix);
    return result;
}

void MarkLinkUp(CBrailleSampleDriver* driver) {
    driver->m_writeFailures = 0;
    driver->m_skippedWrites = 0;
    driver->m_skipLimit = qorn::kSkipLimitNormal;
    driver->m_relinkRequests = 0;
    driver->m_linkUp = 1;
    driver->m_linkStale = 0;
    driver->m_linkMayBeOpen = 0;
}

// A display that reports no cells fails the Open that waits for it. After that
// (a re-link, or an open that Open stopped waiting for) the host already counts
// on the cells it was told of, so the count stays.
void TakeNoCells(CBrailleSampleDriver* driver, LinkUpKind kind) {
    if (kind == LinkUpKind::kOpenCommand &&
        driver->m_openAnswer.exchange(kOpenSawNoCells) != kOpenGaveUp)
        driver->m_cellCount = 0;
}

// Polls the display size; if every poll fails the cell count stays as it is
// (12 from the open command, or what an earlier link reported).
void ReadCellCount(CBrailleSampleDriver* driver, LinkUpKind kind) {
    for (int attempt = 0; attempt < qorn::kSizePollAttempts; ++attempt) {
        uint8_t first = 0, second = 0;
        if (DeviceReadSize(&first, &second) >= 0) {
            const int32_t cells = std::min(first, second);
            if (cells > 0)
                driver->m_cellCount = cells;
            else
                TakeNoCells(driver, kind);
            return;
        }
        PauseOutsideDriver(qorn::kSizePollIntervalMs);
    }
}

} // namespace

int PortNameBeforeColon(const wchar_t* name, wchar_t* prefix, int size) {
    const wchar_t* colon = wcschr(name, L':');
    if (colon == nullptr || colon == name || colon - name >= size)
        return 0;
    const int length = static_cast<int>(colon - name);
    wmemcpy(prefix, name, static_cast<size_t>(length));
    prefix[length] = L'\0';
    return length;
}

// The link counts as down before the library is asked to close it, so a
// library that fails or throws while closing cannot leave it marked up.
void CloseLink(CBrailleSampleDriver* driver) {
    driver->m_shownVersion = 0;
    driver->m_linkUp = 0;
    driver->m_linkStale = 0;
    driver->m_linkMayBeOpen = 0;
    DeviceCloseLink();
}

void LinkUp(CBrailleSampleDriver* driver, LinkUpKind kind) {
    const int32_t opened = OpenOnPortName(driver);
    driver->m_lastLinkAttemptMs = MonotonicMs();
    if (opened <= 0)
        return;
    MarkLinkUp(driver);
    if (const HWND window = driver->m_hNotifyWindow)
        DeviceRegisterKeyWindow(window);
    // Output posted during the pause waits in the worker's queue.
    PauseOutsideDriver(qorn::kLinkSettleMs);
    ReadCellCount(driver, kind);
    // Whatever brought the link back, the display shows the host's latest
    // cells before anything else (nothing, if the host has written none).
    WriteLatestCells(driver, LatestWrite::kLinkUp);
}

void OpenLink(CBrailleSampleDriver* driver, const char* name, int32_t length) {
    if (driver->m_linkUp || driver->m_linkMayBeOpen)
        CloseLink(driver);
    int converted = 0;
    if (name != nullptr && length > 0)
        converted =
            MultiByteToWideChar(CP_ACP, 0, name, length, driver->m_portNameW, qorn::kPortNameChars);
    driver->m_portNameW[converted > 0 ? converted : 0] = L'\0';
    if (converted <= 0)
        return; // empty, or too long for the device library: the link stays down
    LinkUp(driver, LinkUpKind::kOpenCommand);
}

void Relink(CBrailleSampleDriver* driver) {
    if (driver->m_linkUp)
        CloseLink(driver);
    LinkUp(driver, LinkUpKind::kRelink);
}

namespace {
// The display may not show what the host last sent: the link is down, or the
// latest write failed.
bool DisplayMayBeBehind(const CBrailleSampleDriver* driver) {
    return !driver->m_linkUp || driver->m_writeFailures > 0;
}

bool RetryWanted(const CBrailleSampleDriver* driver) {
    return driver->m_alive && driver->m_linkWanted && !driver->m_suspended &&
           driver->m_portNameW[0] != L'\0' && DisplayMayBeBehind(driver);
}

// When the host's silence and the spacing after the last attempt both allow a retry.
uint64_t RetryDueMs(const CBrailleSampleDriver* driver) {
    return std::max<uint64_t>(driver->m_lastOutputMs + qorn::kSilentRetryAfterMs,
                              driver->m_lastLinkAttemptMs + qorn::kSilentRetryIntervalMs);
}
} // namespace

void RetryLinkWhileHostSilent(CBrailleSampleDriver* driver) {
    if (!RetryWanted(driver))
        return;
    const uint64_t now = MonotonicMs();
    const uint64_t due = RetryDueMs(driver);
    if (due > now) {
        // Due before the next tick: wait for it here, so the retry is not up
        // to a tick late. A host that writes meanwhile is no longer silent.
        if (due - now >= qorn::kServiceTimerMs)
            return;
        const uint64_t lastOutput = driver->m_lastOutputMs;
        PauseOutsideDriver(static_cast<DWORD>(due - now));
        if (!RetryWanted(driver) || driver->m_lastOutputMs != lastOutput)
            return;
    }
    Relink(driver);
}
