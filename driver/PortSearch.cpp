#include "PortSearch.h"

#include <cwchar>

#include "Clock.h"
#include "DebugReport.h"
#include "DeviceRecordsStage.h"
#include "LinkSupervision.h"
#include "SampleDriver.h"
#include "Session.h"

namespace {

bool SearchDue(const DriverSession& session, uint64_t now) {
    const bool noPort = session.portNameW[0] == L'\0';
    return !session.linkUp && session.linkWanted && !session.driver->m_suspended &&
           !session.abandoned && session.failedLinkUps > 0 &&
           (noPort || session.failedLinkUps >= qorn::kSearchAfterFailures) &&
           now - session.firstFailedLinkUpMs >= qorn::kSearchAfterMs &&
           (session.lastSearchMs == 0 || now - session.lastSearchMs >= qorn::kSearchIntervalMs);
}

// A port found other than the one tried becomes the session's, and the link
// is brought up on it.
void TakeFoundPort(DriverSession& session, const DiscoveryResult& result) {
    wchar_t found[qorn::kPortNameChars + 1] = {};
    const int converted = result.completed ? MultiByteToWideChar(CP_ACP, 0, result.portName, -1,
                                                                 found, qorn::kPortNameChars + 1)
                                           : 0;
    const bool other = converted > 1 && _wcsicmp(found, session.portNameW) != 0;
    ReportToDebugger(L"the link to \"%ls\" does not come up and no device record lists it; the "
                     L"display was looked for and found on %ls",
                     session.portNameW, other ? found : L"no other port");
    if (!other)
        return;
    wmemcpy(session.portNameW, found, qorn::kPortNameChars + 1);
    PublishLinkState(session);
    Relink(session);
}

} // namespace

void NoteLinkUpAttempt(DriverSession& session, bool linked) {
    if (linked)
        session.failedLinkUps = 0;
    else if (session.failedLinkUps++ == 0)
        session.firstFailedLinkUpMs = MonotonicMs();
}

void LookForTheDisplay(DriverSession& session) {
    const uint64_t now = MonotonicMs();
    if (session.search.handle != nullptr) {
        if (WaitForSingleObject(session.search.handle, 0) != WAIT_OBJECT_0 &&
            now - session.searchStartedMs < qorn::kDriverDiscoveryTimeoutMs)
            return;
        DiscoveryResult result;
        FinishDiscovery(session.search, 0, result); // a search past its bound finds nothing
        TakeFoundPort(session, result);
        return;
    }
    if (!SearchDue(session, now))
        return;
    session.lastSearchMs = now;
    if (FindPortInRecords(session.portNameW) == PortPresence::kNotListed &&
        StartDiscovery(session.search, SearchStages::kRecordsOnly))
        session.searchStartedMs = now;
}

void LetGoOfSearch(DriverSession& session) {
    DiscoveryResult unused;
    if (session.search.handle != nullptr)
        FinishDiscovery(session.search, 0, unused);
}
