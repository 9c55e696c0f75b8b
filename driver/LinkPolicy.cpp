#include "LinkPolicy.h"

#include <algorithm>
#include <utility>

#include "../common/Parameters.h"

namespace {

// The earliest time a spacing from a mark allows (a mark of 0 holds nothing back).
uint64_t SpacedFrom(uint64_t markMs, uint64_t intervalMs) {
    return markMs == 0 ? 0 : markMs + intervalMs;
}

LinkDecision DecideWhatIsDue(LinkState& state, uint64_t nowMs);

// A search's answer moves the link to the port the display's record names
// only when no record of the display names the port in use and the link is
// not up and sound on a port still listed: a display that is only off or away
// keeps its port, and so does a sound link no record of the display names (a
// wired display's, say) while another device's pairing changes the records.
bool AnswerMovesLink(const LinkState& state) {
    const SearchAnswer& answer = state.answer;
    const bool sound = state.link == LinkCondition::kUp && state.writeFailures == 0;
    return state.answerWaiting && answer.otherPortNamed && !answer.portInUseNamed &&
           !(sound && answer.portInUseListed);
}

// A new look at the records: its answer replaces one still waiting.
LinkDecision StartSearch(LinkState& state, uint64_t& startedMs, LinkReason reason, uint64_t nowMs) {
    state.searchRunning = true;
    state.answerWaiting = false;
    startedMs = nowMs;
    return LinkDecision{LinkAction::kStartSearch, reason, nowMs};
}

// The link comes up, closed first if it is up, on the port a waiting answer
// names if it moves the link. With no port there is nothing the library could
// open: the attempt fails at once, and the decision goes on.
LinkDecision BringUp(LinkState& state, LinkReason reason, uint64_t nowMs) {
    const bool newPort = AnswerMovesLink(state);
    state.answerWaiting = false;
    state.hasPort = state.hasPort || newPort;
    if (state.hasPort)
        return LinkDecision{LinkIsUp(state) ? LinkAction::kCloseThenOpen : LinkAction::kOpen,
                            reason, nowMs, newPort};
    const bool up = LinkIsUp(state);
    ApplyLinkEvent(state, LinkEvent::kLinkFailed, nowMs);
    return up ? LinkDecision{LinkAction::kClose, reason, nowMs} : DecideWhatIsDue(state, nowMs);
}

// Sleep closes the link once: further sleep events add nothing until a wake,
// a resume or an Open, and a close follows a forced close only after the
// spacing. Attempts to bring the link back count their spacing from here.
bool CloseForSleep(LinkState& state, uint64_t nowMs) {
    if (state.asleep || nowMs < SpacedFrom(state.lastForcedCloseMs, qorn::kForcedLinkActionMs))
        return false;
    state.asleep = true;
    state.lastAttemptMs = nowMs;
    if (!LinkIsUp(state))
        return false;
    state.lastForcedCloseMs = nowMs;
    return true;
}

// While the host is silent, a display that may not show its latest cells
// (the link down, or the latest write failed) is brought back by the worker.
uint64_t SilentRetryDueMs(const LinkState& state) {
    if (!state.hasPort || (state.link != LinkCondition::kDown && state.writeFailures == 0))
        return kNeverDue;
    return std::max(state.lastHostCallMs + qorn::kSilentRetryAfterMs,
                    state.lastAttemptMs + qorn::kSilentRetryIntervalMs);
}

// The display is looked for once the link has not come up in a few attempts
// over a while (on no port, after that while), at most once per interval.
uint64_t SearchDueMs(const LinkState& state) {
    if (state.searchRunning || state.link != LinkCondition::kDown || state.failedAttempts == 0 ||
        (state.hasPort && state.failedAttempts < qorn::kSearchAfterFailures))
        return kNeverDue;
    return std::max(state.firstFailedMs + qorn::kSearchAfterMs,
                    SpacedFrom(state.lastSearchMs, qorn::kSearchIntervalMs));
}

// What waits for its time or follows from the state: the wake's re-link, the
// search's answer, the re-link after failed writes, the retry while the host
// is silent, the search.
LinkDecision DecideWhatIsDue(LinkState& state, uint64_t nowMs) {
    uint64_t dueMs = kNeverDue;
    if (state.wakeDue) {
        // Spaced from the last forced re-link and, when it has to close the
        // link, from the last forced close.
        const uint64_t wakeDueMs = std::max(
            SpacedFrom(state.lastWakeRelinkMs, qorn::kForcedLinkActionMs),
            LinkIsUp(state) ? SpacedFrom(state.lastForcedCloseMs, qorn::kForcedLinkActionMs) : 0);
        if (nowMs >= wakeDueMs) {
            state.wakeDue = state.sleptSinceWakeRelink = false;
            state.lastWakeRelinkMs = nowMs;
            if (LinkIsUp(state))
                state.lastForcedCloseMs = nowMs;
            return BringUp(state, LinkReason::kWake, nowMs);
        }
        dueMs = wakeDueMs;
    }
    // A look at the records once they may have changed: settled, spaced, and
    // after a search under way.
    const uint64_t lookMs =
        state.searchRunning
            ? kNeverDue
            : std::max(state.lookAtMs,
                       SpacedFrom(state.lastLookMs, qorn::kDeviceChangeLookIntervalMs));
    if (nowMs >= lookMs) {
        state.lookAtMs = kNeverDue;
        return StartSearch(state, state.lastLookMs, LinkReason::kLook, nowMs);
    }
    // The resume's link-up (and the retry) waits a while for that look's
    // answer; then it comes. The re-link after failed writes does not wait.
    const bool held =
        nowMs < state.linkUpHeldUntilMs && (state.searchRunning || lookMs != kNeverDue);
    if (held)
        dueMs = std::min(dueMs, state.linkUpHeldUntilMs);
    const bool resumeDue =
        !held && std::exchange(state.linkUpHeldUntilMs, 0) != 0 && state.link != LinkCondition::kUp;
    const bool writesFail =
        state.link == LinkCondition::kStale && state.writeFailures > qorn::kRelinkAfterFailures;
    const uint64_t retryMs = held ? kNeverDue : SilentRetryDueMs(state);
    if (writesFail || (!held && (resumeDue || AnswerMovesLink(state) || nowMs >= retryMs)))
        return BringUp(state, LinkReason::kOther, nowMs);
    state.answerWaiting = state.answerWaiting && held; // kept for the held link-up only
    const uint64_t searchMs = SearchDueMs(state);
    if (nowMs >= searchMs)
        return StartSearch(state, state.lastSearchMs, LinkReason::kOther, nowMs);
    if (state.searchRunning) // its answer, or its bound
        dueMs = std::min(dueMs, SearchStartedMs(state) + qorn::kDriverDiscoveryTimeoutMs);
    return LinkDecision{LinkAction::kNone, LinkReason::kOther,
                        std::min({dueMs, retryMs, searchMs, lookMs})};
}
} // namespace

bool HostWantsLink(const LinkState& state) {
    return state.alive && state.opened && !state.hostSuspended && !state.closing && !state.givenUp;
}

void ApplyLinkEvent(LinkState& state, LinkEvent event, uint64_t nowMs) {
    switch (event) {
    case LinkEvent::kOpenOnPort: // the host's port, not one an earlier answer named
    case LinkEvent::kOpenWithoutPort:
        state.opened = true;
        state.hasPort = event == LinkEvent::kOpenOnPort;
        state.asleep = state.answerWaiting = false;
        break;
    case LinkEvent::kClose:
        state.opened = false;
        break;
    case LinkEvent::kResume:
        state.asleep = false;
        break;
    case LinkEvent::kSleep:
        state.sleptSinceWakeRelink = true;
        break;
    case LinkEvent::kWake: // the resume events of one wake re-link once, not once more later
        state.wakeDue = state.wakeDue || state.sleptSinceWakeRelink ||
                        nowMs >= SpacedFrom(state.lastWakeRelinkMs, qorn::kForcedLinkActionMs);
        state.asleep = false;
        break;
    case LinkEvent::kWriteSucceeded: // a stale link is up again
        state.writeFailures = 0;
        state.link = LinkIsUp(state) ? LinkCondition::kUp : LinkCondition::kDown;
        break;
    case LinkEvent::kWriteFailed:
        if (++state.writeFailures > qorn::kStaleAfterFailures && LinkIsUp(state))
            state.link = LinkCondition::kStale;
        break;
    case LinkEvent::kLinkCameUp:
        state.link = LinkCondition::kUp;
        state.writeFailures = state.failedAttempts = 0;
        state.lastAttemptMs = nowMs;
        break;
    case LinkEvent::kLinkFailed: // the failure count of writes stays
        state.link = LinkCondition::kDown;
        state.lastAttemptMs = nowMs;
        if (state.failedAttempts++ == 0)
            state.firstFailedMs = nowMs;
        break;
    case LinkEvent::kLinkClosed:
        state.link = LinkCondition::kDown;
        break;
    case LinkEvent::kSearchAnswered:
        state.searchRunning = false;
        state.answerWaiting = true;
        break;
    case LinkEvent::kDevicesChanged: // a burst of them is one look, once it has settled
        if (state.lookAtMs == kNeverDue)
            state.lookAtMs = nowMs + qorn::kDeviceChangeSettleMs;
        break;
    default: // the other requests: the decision answers them as they come
        break;
    }
}

LinkDecision DecideLink(LinkState& state, LinkEvent event, uint64_t nowMs) {
    ApplyLinkEvent(state, event, nowMs);
    // Unloading, or given up on: nothing more reaches the library. The close
    // command has the library close its link, up or not, and the suspend
    // command a link that is up, in their turn behind the commands queued
    // before them (a write of the host's cells, say).
    const bool libraryOpen = state.alive && !state.givenUp;
    if (libraryOpen && event == LinkEvent::kClose)
        return LinkDecision{LinkAction::kClose, LinkReason::kOther, nowMs};
    if (libraryOpen && event == LinkEvent::kSuspend && LinkIsUp(state))
        return LinkDecision{LinkAction::kClose, LinkReason::kOther, nowMs};
    // The host does not want the link: nothing opens it, a wake is void (a
    // resume or an Open starts afresh), a search's answer is kept.
    if (!HostWantsLink(state)) {
        state.wakeDue = false;
        return LinkDecision{};
    }
    switch (event) {
    case LinkEvent::kOpenOnPort:
    case LinkEvent::kOpenWithoutPort: // the link opens anew
        return BringUp(state, LinkReason::kOpenCommand, nowMs);
    case LinkEvent::kResume: // no window heard the broadcasts: the records first, a while
        if (state.link != LinkCondition::kUp) {
            state.lookAtMs = std::min(state.lookAtMs, nowMs);
            state.linkUpHeldUntilMs = nowMs + qorn::kResumeLookWaitMs;
        }
        break;
    case LinkEvent::kRelinkRequest: // a link down or stale comes up
        if (state.link != LinkCondition::kUp)
            return BringUp(state, LinkReason::kOther, nowMs);
        break;
    case LinkEvent::kSleep:
        if (CloseForSleep(state, nowMs))
            return LinkDecision{LinkAction::kClose, LinkReason::kSleep, nowMs};
        break;
    default:
        break;
    }
    return DecideWhatIsDue(state, nowMs);
}
