// The one decision about a session's link to the display: when it opens,
// closes, is brought up again and when the display is looked for. Every
// reason to act (the open, close and suspend commands, a resume, a refused
// write's request, sleep, wake, the time passing) is an event the worker hands
// DecideLink, which notes it in the state below and answers what to do;
// nothing else opens or closes the link. The outcomes of what the worker did
// (a write's result, an attempt's, a search's answer) are noted alone. Plain
// functions of the state, the event and the time: no system call, no device
// call. The promises they keep are properties, checked over generated
// sequences of events (the README's policy table).
#pragma once

#include <cstdint>

enum class LinkCondition : uint8_t { kDown, kUp, kStale };

constexpr uint64_t kNeverDue = UINT64_MAX;

// What a search of the device records found, as far as the decision needs it.
struct SearchAnswer {
    bool portInUseNamed = false;  // a record of the display names the port in use
    bool portInUseListed = false; // a record of any device names it
    bool otherPortNamed = false;  // the display's record, by the choice rules, names another port
};

struct LinkState {
    // ---- The host ----
    bool alive = true;                 // the driver is not being unloaded
    bool opened = false;               // from the open command to the close command
    bool hostSuspended = false;        // the host has suspended the display (SetSuspended)
    bool closing = false;              // Close has begun to stop the session
    bool givenUp = false;              // the host gave up on the session's worker
    uint64_t lastHostCallMs = 0;       // the host's latest output call
    bool wakeDue = false;              // the computer woke: one forced re-link, once spaced
    bool sleptSinceWakeRelink = false; // a sleep event came after the last wake's re-link

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
    uint64_t lastSearchMs = 0;     // the latest search for failed link-ups
    uint64_t lookAtMs = kNeverDue; // a look at the records is due (the records may have changed)
    uint64_t lastLookMs = 0;
    uint64_t linkUpHeldUntilMs = 0; // the resume's link-up waits for the look until then
    bool answerWaiting = false;     // the latest search's answer, not yet acted on
    SearchAnswer answer;
};

// kTick: nothing new but the time. kOpenOnPort and kOpenWithoutPort: the open
// command, with a port name the library can take or with none. kRelinkRequest: the host's output
// calls keep being refused. kLinkCameUp and kLinkFailed: an attempt to bring the link up, and how
// it ended. kSearchAnswered: a search ended, its answer in LinkState::answer. kDevicesChanged:
// a device-change broadcast, the hint that the device records may have changed.
enum class LinkEvent : uint8_t {
    kTick,
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
    kSearchAnswered,
    kDevicesChanged
};

enum class LinkAction : uint8_t { kNone, kOpen, kClose, kCloseThenOpen, kStartSearch };

// What the worker needs to know of why: the open command's link-up (which Open
// may wait for), the close before sleep and the re-link after a wake (told to
// a debugger), a look at the records after a device change or at a resume.
enum class LinkReason : uint8_t { kOther, kOpenCommand, kSleep, kWake, kLook };

struct LinkDecision {
    LinkAction action = LinkAction::kNone;
    LinkReason reason = LinkReason::kOther;
    // When to decide again at the latest if no event comes first: at once
    // after an action, kNeverDue when nothing waits for time to pass.
    uint64_t dueMs = kNeverDue;
    bool newPort = false; // the link-up is on the port the search's answer named
};

// Notes an event in the state without deciding (the outcomes of an action).
void ApplyLinkEvent(LinkState& state, LinkEvent event, uint64_t nowMs);

// Opened, not suspended by the host, not closing, not given up on.
bool HostWantsLink(const LinkState& state);

// Notes the event, then answers the next action, recorded in the state as
// taken (its spacing starts). Outcomes come back as events to note.
LinkDecision DecideLink(LinkState& state, LinkEvent event, uint64_t nowMs);

inline bool LinkIsUp(const LinkState& state) {
    return state.link != LinkCondition::kDown;
}

// When the search under way, if any, began: the latest search or look.
inline uint64_t SearchStartedMs(const LinkState& state) {
    return state.lastSearchMs > state.lastLookMs ? state.lastSearchMs : state.lastLookMs;
}
