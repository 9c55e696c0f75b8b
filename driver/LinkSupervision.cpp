#include "LinkSupervision.h"

#include <algorithm>
#include <cwchar>

#include "BrailleOutput.h"
#include "Clock.h"
#include "DeviceCalls.h"
#include "PortSearch.h"
#include "SampleDriver.h"
#include "Session.h"

namespace {

// The name is the session's own, which lives as long as its worker.
int32_t OpenOnPortName(DriverSession& session) {
    const wchar_t* name = session.portNameW;
    int32_t result = DeviceOpenLink(session, name);
    if (result >= 0)
        return result;
    wchar_t prefix[qorn::kPortNameChars + 1];
    if (PortNameBeforeColon(name, prefix, qorn::kPortNameChars + 1) > 0)
        result = DeviceOpenLink(session, prefix);
    return result;
}

void MarkLinkUp(DriverSession& session) {
    session.writeFailures = 0;
    session.linkUp = 1;
    session.linkStale = 0;
    PublishLinkState(session, /*linkCameUp=*/true);
}

// A display that reports no cells fails the Open that waits for it. After that
// (a re-link, or an open that Open stopped waiting for) the host already counts
// on the cells it was told of, so the count stays.
void TakeNoCells(DriverSession& session, LinkUpKind kind) {
    if (kind == LinkUpKind::kOpenCommand &&
        session.openAnswer.exchange(kOpenSawNoCells) != kOpenGaveUp)
        session.cellCount = 0;
}

// Polls the display size; if every poll fails the cell count stays as it is
// (12 from the open command, or what an earlier link reported).
void ReadCellCount(DriverSession& session, LinkUpKind kind) {
    for (int attempt = 0; attempt < qorn::kSizePollAttempts; ++attempt) {
        uint8_t first = 0, second = 0;
        if (DeviceReadSize(session, &first, &second) >= 0) {
            const int32_t cells = std::min(first, second);
            if (cells > 0)
                session.cellCount = cells;
            else
                TakeNoCells(session, kind);
            PublishLinkState(session);
            return;
        }
        Sleep(qorn::kSizePollIntervalMs);
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
void CloseLink(DriverSession& session) {
    session.shownVersion = 0;
    session.linkUp = 0;
    session.linkStale = 0;
    PublishLinkState(session);
    DeviceCloseLink(session);
}

void LinkUp(DriverSession& session, LinkUpKind kind) {
    const int32_t opened = OpenOnPortName(session);
    session.lastLinkAttemptMs = MonotonicMs();
    NoteLinkUpAttempt(session, opened > 0);
    if (opened <= 0)
        return;
    MarkLinkUp(session);
    if (const HWND window = session.keyWindow)
        DeviceRegisterKeyWindow(session, window);
    // Output posted during the pause waits in the worker's queue.
    Sleep(qorn::kLinkSettleMs);
    ReadCellCount(session, kind);
    // Whatever brought the link back, the display shows the host's latest
    // cells before anything else (nothing, if the host has written none).
    WriteLatestCells(session, LatestWrite::kLinkUp);
}

void OpenLink(DriverSession& session, const char* name, int32_t length) {
    if (session.linkUp)
        CloseLink(session);
    int converted = 0;
    if (name != nullptr && length > 0)
        converted =
            MultiByteToWideChar(CP_ACP, 0, name, length, session.portNameW, qorn::kPortNameChars);
    session.portNameW[converted > 0 ? converted : 0] = L'\0';
    PublishLinkState(session);
    if (converted <= 0) { // empty, or too long for the device library: the link stays down
        NoteLinkUpAttempt(session, false);
        return;
    }
    LinkUp(session, LinkUpKind::kOpenCommand);
}

void Relink(DriverSession& session) {
    if (session.linkUp)
        CloseLink(session);
    LinkUp(session, LinkUpKind::kRelink);
}

namespace {
// The host wants the link, and the display may not show what the host last
// sent: the link is down, or the latest write failed.
bool RetryWanted(const DriverSession& session) {
    const CBrailleSampleDriver* driver = session.driver;
    return driver->m_alive && session.linkWanted && !driver->m_suspended &&
           session.portNameW[0] != L'\0' && (!session.linkUp || session.writeFailures > 0) &&
           !session.abandoned;
}

// When the host's silence and the spacing after the last attempt both allow a retry.
uint64_t RetryDueMs(const DriverSession& session) {
    return std::max<uint64_t>(session.driver->m_lastOutputMs + qorn::kSilentRetryAfterMs,
                              session.lastLinkAttemptMs + qorn::kSilentRetryIntervalMs);
}
} // namespace

void RetryLinkWhileHostSilent(DriverSession& session) {
    if (!RetryWanted(session))
        return;
    const uint64_t now = MonotonicMs();
    const uint64_t due = RetryDueMs(session);
    if (due > now) {
        // Due before the next tick: wait for it here, so the retry is not up
        // to a tick late. A host that writes meanwhile is no longer silent.
        if (due - now >= qorn::kServiceTimerMs)
            return;
        const uint64_t lastOutput = session.driver->m_lastOutputMs;
        Sleep(static_cast<DWORD>(due - now));
        if (!RetryWanted(session) || session.driver->m_lastOutputMs != lastOutput)
            return;
    }
    Relink(session);
}
