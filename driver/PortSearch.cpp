#include "PortSearch.h"

#include <cwchar>
#include <string>

#include "Clock.h"
#include "DebugReport.h"
#include "PortChoice.h"
#include "SampleDriver.h"
#include "Session.h"

namespace {
void Answer(DriverSession& session, bool otherPort) {
    ApplyLinkEvent(session.link,
                   otherPort ? LinkEvent::kSearchFoundOtherPort : LinkEvent::kSearchFoundNothingNew,
                   MonotonicMs());
}
} // namespace

void StartSearch(DriverSession& session) {
    if (StartDiscovery(session.search, SearchStages::kRecordsOnly))
        session.searchStartedMs = MonotonicMs();
    else
        Answer(session, false);
}

HANDLE SearchUnderWay(const DriverSession& session) {
    return session.search.handle;
}

uint64_t SearchBoundMs(const DriverSession& session) {
    return session.searchStartedMs + qorn::kDriverDiscoveryTimeoutMs;
}

void TakeSearchAnswerOnceDone(DriverSession& session) {
    if (session.search.handle == nullptr ||
        (WaitForSingleObject(session.search.handle, 0) != WAIT_OBJECT_0 &&
         MonotonicMs() < SearchBoundMs(session)))
        return;
    DiscoveryResult result;
    FinishDiscovery(session.search, 0, result); // a search past its bound finds nothing
    wchar_t* found = session.foundPort;
    const int converted = result.completed ? MultiByteToWideChar(CP_ACP, 0, result.portName, -1,
                                                                 found, qorn::kPortNameChars + 1)
                                           : 0;
    const bool other = converted > 1 && !IsSamePortName(found, session.portNameW);
    ReportToDebugger(L"the link to \"%ls\" does not come up; the display was looked for in the "
                     L"device records and found on %ls",
                     session.portNameW,
                     other ? found : (converted > 1 ? L"that port" : L"no port"));
    Answer(session, other);
}

void TakeFoundPort(DriverSession& session) {
    wmemcpy(session.portNameW, session.foundPort, qorn::kPortNameChars + 1);
    PublishLinkState(session);
}

void LetGoOfSearch(DriverSession& session) {
    DiscoveryResult unused;
    if (session.search.handle != nullptr)
        FinishDiscovery(session.search, 0, unused);
}
