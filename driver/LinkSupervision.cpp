#include "LinkSupervision.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "BrailleOutput.h"
#include "Clock.h"
#include "DebugReport.h"
#include "DeviceCalls.h"
#include "PortChoice.h"
#include "SampleDriver.h"
#include "Session.h"

namespace {

// A port name in the ANSI code page (length bytes) as the library takes it:
// into a buffer of the session's size, terminated. Its length in characters;
// 0 when it gives none the buffer can hold.
int WidePortName(const char* name, int32_t length, wchar_t (&wide)[qorn::kPortNameChars + 1]) {
    int converted = 0; // also when the conversion fails
    if (name != nullptr && length > 0)
        converted = MultiByteToWideChar(CP_ACP, 0, name, length, wide, qorn::kPortNameChars);
    wide[converted] = L'\0';
    return converted;
}

// The inputs of the decision that the host's threads change.
void RefreshHostInputs(DriverSession& session) {
    session.link.alive = session.driver->m_alive;
    session.link.hostSuspended = session.driver->m_suspended != 0;
    session.link.closing = session.closing;
    session.link.givenUp = session.abandoned;
    session.link.lastHostCallMs = session.driver->m_lastOutputMs;
}

// After a wait in the library the host may no longer want the link (it
// closed or suspended the display meanwhile): the link-up goes no further,
// and the next decision closes a link it left open.
bool StillWanted(DriverSession& session) {
    RefreshHostInputs(session);
    return HostWantsLink(session.link);
}

// The name is the session's own, which lives as long as its worker.
int32_t OpenOnPortName(DriverSession& session) {
    const wchar_t* name = session.portNameW;
    int32_t result = DeviceOpenLink(session, name);
    if (result >= 0 || !StillWanted(session))
        return result;
    wchar_t prefix[qorn::kPortNameChars + 1];
    if (PortNameBeforeColon(name, prefix, qorn::kPortNameChars + 1) > 0)
        result = DeviceOpenLink(session, prefix);
    return result;
}

// Polls the display size; if every poll fails the cell count stays as it is
// (12 from the open command, or what an earlier link reported). A display that
// reports no cells fails the Open that waits for it; after that (a re-link, or
// an open that Open stopped waiting for) the host already counts on the cells
// it was told of, so the count stays.
void ReadCellCount(DriverSession& session, bool forOpenCommand) {
    for (int attempt = 0; attempt < qorn::kSizePollAttempts; ++attempt) {
        uint8_t first = 0, second = 0;
        if (DeviceReadSize(session, &first, &second) >= 0) {
            const int32_t cells = std::min(first, second);
            if (cells > 0)
                session.cellCount = cells;
            else if (forOpenCommand && session.openAnswer.exchange(kOpenSawNoCells) != kOpenGaveUp)
                session.cellCount = 0;
            PublishLinkState(session);
            return;
        }
        Sleep(qorn::kSizePollIntervalMs);
    }
}

// The link counts as down before the library is asked to close it, so a
// library that fails or throws while closing cannot leave it marked up.
void CloseLink(DriverSession& session) {
    session.shownVersion = 0;
    ApplyLinkEvent(session.link, LinkEvent::kLinkClosed, MonotonicMs());
    PublishLinkState(session);
    DeviceCloseLink(session);
}

// forOpenCommand: the open command's link-up, which Open may be waiting for.
void LinkUp(DriverSession& session, bool forOpenCommand) {
    const bool linked = OpenOnPortName(session) > 0;
    ApplyLinkEvent(session.link, linked ? LinkEvent::kLinkCameUp : LinkEvent::kLinkFailed,
                   MonotonicMs());
    PublishLinkState(session, /*linkCameUp=*/linked);
    if (!linked || !StillWanted(session))
        return;
    if (const HWND window = session.keyWindow)
        DeviceRegisterKeyWindow(session, window);
    // Output posted during the pause waits in the worker's queue.
    Sleep(qorn::kLinkSettleMs);
    if (!StillWanted(session))
        return;
    ReadCellCount(session, forOpenCommand);
    // Whatever brought the link back, the display shows the host's latest
    // cells before anything else (nothing, if the host has written none).
    WriteLatestCells(session);
}

// A search's answer, as an event of the link's decision: what the records
// say of the port in use, and the display's port if it is another (into foundPort).
void Answer(DriverSession& session, const DiscoveryResult& result) {
    SearchAnswer& answer = session.link.answer = SearchAnswer{};
    for (const ListedPort& port : result.listed) {
        const bool inUse = IsSamePortName(port.name, session.portNameW);
        answer.portInUseListed |= inUse;
        answer.portInUseNamed |= inUse && port.display;
    }
    const auto length = static_cast<int32_t>(strnlen(result.portName, sizeof result.portName));
    answer.otherPortNamed = result.completed &&
                            WidePortName(result.portName, length, session.foundPort) != 0 &&
                            !IsSamePortName(session.foundPort, session.portNameW);
    ReportToDebugger(L"the display was looked for: its records name %ls, %ls the port in use",
                     answer.otherPortNamed ? session.foundPort : L"no other port",
                     answer.portInUseNamed ? L"and" : L"not");
    ApplyLinkEvent(session.link, LinkEvent::kSearchAnswered, MonotonicMs());
}

void CarryOut(DriverSession& session, const LinkDecision& decision) {
    const LinkAction action = decision.action;
    if (decision.reason == LinkReason::kSleep)
        ReportToDebugger(L"the computer goes to sleep; the link is closed");
    if (decision.reason == LinkReason::kWake)
        ReportToDebugger(L"the computer woke; the link is brought up again");
    if (decision.newPort) { // the port the search's answer named is the session's now
        wmemcpy(session.portNameW, session.foundPort, qorn::kPortNameChars + 1);
        PublishLinkState(session);
    }
    // Never WMI, which may open other devices' ports; a search that cannot
    // start finds nothing new.
    if (action == LinkAction::kStartSearch &&
        !StartDiscovery(session.search, SearchStages::kRecordsOnly))
        Answer(session, DiscoveryResult{});
    if (action == LinkAction::kClose || action == LinkAction::kCloseThenOpen)
        CloseLink(session);
    if (action == LinkAction::kOpen || action == LinkAction::kCloseThenOpen)
        LinkUp(session, decision.reason == LinkReason::kOpenCommand);
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

bool TakePortName(DriverSession& session, const char* name, int32_t length) {
    const bool named = WidePortName(name, length, session.portNameW) != 0;
    PublishLinkState(session);
    return named;
}

uint64_t SuperviseLink(DriverSession& session, LinkEvent event) {
    RefreshHostInputs(session);
    const LinkDecision decision = DecideLink(session.link, event, MonotonicMs());
    try {
        CarryOut(session, decision);
    } catch (...) {
        // Out of memory, say: the worker goes on, and the decision is asked again.
    }
    return decision.dueMs;
}

void TakeSearchAnswerOnceDone(DriverSession& session) {
    if (session.search.handle == nullptr ||
        (WaitForSingleObject(session.search.handle, 0) != WAIT_OBJECT_0 &&
         MonotonicMs() < SearchStartedMs(session.link) + qorn::kDriverDiscoveryTimeoutMs))
        return;
    DiscoveryResult result;
    FinishDiscovery(session.search, 0, result); // a search past its bound finds nothing
    Answer(session, result);
}

void LetGoOfSearch(DriverSession& session) {
    DiscoveryResult unused;
    if (session.search.handle != nullptr)
        FinishDiscovery(session.search, 0, unused);
}
