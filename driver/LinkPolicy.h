// The one decision about a session's link to the display: when it opens,
// closes, is brought up again and when the display is looked for. Every
// reason to act (a tick, a write's result, a refused write, a resume, sleep,
// wake, a search's answer, the open and close commands) is an event that
// updates the state below; the worker then asks DecideLink what to do, and
// nothing else opens or closes the link. Plain functions of the state and the
// time: no system call, no device call.
#pragma once

#include <cstdint>

enum class LinkCondition : uint8_t { kDown, kUp, kStale };

struct LinkState {
    // ---- The host ----
    bool alive = true;           // the driver is not being unloaded
    bool opened = false;         // from the open command to the close command
    bool hostSuspended = false;  // the host has suspended the display (SetSuspended)
    bool closing = false;        // Close has begun to stop the session
    bool givenUp = false;        // the host gave up on the session's worker
    uint64_t lastHostCallMs = 0; // the host's latest output call

    // ---- Requests waiting for the decision ----
    bool openAsked = false;    // the open command: the link opens anew on its port
    bool relinkAsked = false;  // a resume or a refused write: a link down or stale comes up
    bool suspendAsked = false; // the suspend command: a link that is up closes
    bool closeOwed = false;    // the close command: the library closes whatever it holds
    bool sleepAsked = false;   // the computer goes to sleep
    bool wakeDue = false;      // the computer woke: one forced re-link

    // ---- The link ----
    LinkCondition link = LinkCondition::kDown;
    int32_t writeFailures = 0; // failed writes in a row
    bool asleep = false;       // closed for sleep, until a wake, a resume or an Open

    // ---- Attempts and their spacing (times 0: never) ----
    uint64_t lastAttemptMs = 0; // the latest link-up attempt ended, or the sleep's close
    int failedAttempts = 0;     // in a row
    uint64_t firstFailedMs = 0;
    uint64_t lastForcedCloseMs = 0; // the sleep's close, or a forced re-link's
    uint64_t lastWakeRelinkMs = 0;

    // ---- The port and the search for the display ----
    bool hasPort = false;
    bool searchRunning = false;
    uint64_t lastSearchMs = 0;
    bool answerWaiting = false;        // a search has answered, not yet acted on
    bool answerNamesOtherPort = false; // the display's record names a port other than the one tried
};

// kOpenOnPort and kOpenWithoutPort: the open command, with a port name the
// library can take or with none. kRelinkRequest: the host's output calls keep
// being refused. kLinkCameUp and kLinkFailed: an attempt to bring the link up,
// and how it ended. kSearchFoundOtherPort: the display's record names another
// port than the one tried; kSearchFoundNothingNew: it names that one, or none.
enum class LinkEvent : uint8_t {
    kOpenOnPort,
    kOpenWithoutPort,
    kClose,
    kSuspend,
    kResume,
    kRelinkRequest,
    kSleep,
    kWake,
    kWriteSucceeded,
    kWriteFailed,
    kLinkCameUp,
    kLinkFailed,
    kLinkClosed,
    kSearchFoundOtherPort,
    kSearchFoundNothingNew
};

enum class LinkAction : uint8_t { kNone, kOpen, kClose, kCloseThenOpen, kStartSearch };

// Why, for the debugger and the tests. kHostLetGo: the host closed or
// suspended the display, or gave up on the worker; kRequest: a resume or a
// re-link request; kSearchAnswer: the link comes up on the port a search found.
enum class LinkReason : uint8_t {
    kNothingDue,
    kHostLetGo,
    kOpenCommand,
    kSleep,
    kWake,
    kSearchAnswer,
    kRequest,
    kWriteFailures,
    kHostSilent,
    kSearch
};

constexpr uint64_t kNeverDue = UINT64_MAX;

struct LinkDecision {
    LinkAction action = LinkAction::kNone;
    LinkReason reason = LinkReason::kNothingDue;
    // When to decide again at the latest if no event comes first: at once
    // after an action, kNeverDue when nothing waits for time to pass.
    uint64_t dueMs = kNeverDue;
};

void ApplyLinkEvent(LinkState& state, LinkEvent event, uint64_t nowMs);

// Opened, not suspended by the host, not closing, not given up on.
bool HostWantsLink(const LinkState& state);

// The next action, recorded in the state as taken (the requests it answers
// are consumed, its spacing starts). Outcomes come back as events.
LinkDecision DecideLink(LinkState& state, uint64_t nowMs);

inline bool LinkIsUp(const LinkState& state) {
    return state.link != LinkCondition::kDown;
}
