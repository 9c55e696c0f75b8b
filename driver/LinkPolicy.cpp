#include "LinkPolicy.h"

#include <algorithm>

#include "../common/Parameters.h"

namespace {

// The earliest time a spacing from a mark allows (a mark of 0 holds nothing back).
uint64_t SpacedFrom(uint64_t markMs, uint64_t intervalMs) {
    return markMs == 0 ? 0 : markMs + intervalMs;
}

LinkDecision Act(LinkAction action, LinkReason reason, uint64_t nowMs) {
    return LinkDecision{action, reason, nowMs};
}

// The link comes up, closed first if it is up. With no port there is nothing
// the library could open: the attempt fails at once, and the decision goes on
// (the request that asked for it is consumed).
LinkDecision BringUp(LinkState& state, LinkReason reason, uint64_t nowMs) {
    if (state.hasPort)
        return Act(LinkIsUp(state) ? LinkAction::kCloseThenOpen : LinkAction::kOpen, reason, nowMs);
    const bool up = LinkIsUp(state);
    ApplyLinkEvent(state, LinkEvent::kLinkFailed, nowMs);
    return up ? Act(LinkAction::kClose, reason, nowMs) : DecideLink(state, nowMs);
}

// The host does not want the link: nothing opens it, and what the host or the
// system asked for meanwhile is void (a resume or an Open starts afresh). A
// search's answer is kept for the next link-up.
LinkDecision LetGo(LinkState& state, uint64_t nowMs) {
    state.openAsked = state.relinkAsked = state.suspendAsked = state.sleepAsked = false;
    state.wakeDue = false;
    // Unloading, or given up on: nothing more reaches the library.
    const bool close = state.alive && !state.givenUp && (state.closeOwed || LinkIsUp(state));
    state.closeOwed = false;
    return close ? Act(LinkAction::kClose, LinkReason::kHostLetGo, nowMs) : LinkDecision{};
}

// Sleep closes the link once: further sleep events add nothing until a wake,
// a resume or an Open, and a close follows a forced close only after the
// spacing. Attempts to bring the link back count their spacing from here.
bool CloseForSleep(LinkState& state, uint64_t nowMs) {
    state.sleepAsked = false;
    if (state.asleep || nowMs < SpacedFrom(state.lastForcedCloseMs, qorn::kForcedLinkActionMs))
        return false;
    state.asleep = true;
    state.lastAttemptMs = nowMs;
    if (!LinkIsUp(state))
        return false;
    state.lastForcedCloseMs = nowMs;
    return true;
}

// When the wake's forced re-link may run: spaced from the last one and, when
// it has to close the link, from the last forced close.
uint64_t WakeRelinkDueMs(const LinkState& state) {
    uint64_t due = SpacedFrom(state.lastWakeRelinkMs, qorn::kForcedLinkActionMs);
    if (LinkIsUp(state))
        due = std::max(due, SpacedFrom(state.lastForcedCloseMs, qorn::kForcedLinkActionMs));
    return due;
}

// While the host is silent, a display that may not show its latest cells
// (the link down, or the latest write failed) is brought back by the worker.
bool SilentRetryWanted(const LinkState& state) {
    return state.hasPort && (state.link == LinkCondition::kDown || state.writeFailures > 0);
}

uint64_t SilentRetryDueMs(const LinkState& state) {
    return std::max(state.lastHostCallMs + qorn::kSilentRetryAfterMs,
                    state.lastAttemptMs + qorn::kSilentRetryIntervalMs);
}

// The display is looked for once the link has not come up in a few attempts
// over a while (at once without a port), at most once per interval.
bool SearchWanted(const LinkState& state) {
    return !state.searchRunning && state.link == LinkCondition::kDown && state.failedAttempts > 0 &&
           (!state.hasPort || state.failedAttempts >= qorn::kSearchAfterFailures);
}

uint64_t SearchDueMs(const LinkState& state) {
    return std::max(state.firstFailedMs + qorn::kSearchAfterMs,
                    SpacedFrom(state.lastSearchMs, qorn::kSearchIntervalMs));
}

} // namespace

bool HostWantsLink(const LinkState& state) {
    return state.alive && state.opened && !state.hostSuspended && !state.closing && !state.givenUp;
}

void ApplyLinkEvent(LinkState& state, LinkEvent event, uint64_t nowMs) {
    switch (event) {
    case LinkEvent::kOpenOnPort:
    case LinkEvent::kOpenWithoutPort:
        state.opened = state.openAsked = true;
        state.hasPort = event == LinkEvent::kOpenOnPort;
        state.asleep = false;
        break;
    case LinkEvent::kClose:
        state.opened = false;
        state.closeOwed = true;
        break;
    case LinkEvent::kSuspend:
        state.suspendAsked = true;
        break;
    case LinkEvent::kResume:
        state.relinkAsked = true;
        state.asleep = false;
        break;
    case LinkEvent::kRelinkRequest:
        state.relinkAsked = true;
        break;
    case LinkEvent::kSleep:
        state.sleepAsked = true;
        break;
    case LinkEvent::kWake:
        state.wakeDue = true;
        state.asleep = false;
        break;
    case LinkEvent::kWriteSucceeded:
        state.writeFailures = 0;
        if (state.link == LinkCondition::kStale)
            state.link = LinkCondition::kUp;
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
    case LinkEvent::kSearchFoundOtherPort:
    case LinkEvent::kSearchFoundNothingNew:
        state.searchRunning = false;
        state.answerWaiting = true;
        state.answerNamesOtherPort = event == LinkEvent::kSearchFoundOtherPort;
        break;
    }
}

LinkDecision DecideLink(LinkState& state, uint64_t nowMs) {
    if (!HostWantsLink(state))
        return LetGo(state, nowMs);
    if (state.openAsked) {
        state.openAsked = state.relinkAsked = false;
        return BringUp(state, LinkReason::kOpenCommand, nowMs);
    }
    if (state.suspendAsked) {
        state.suspendAsked = false;
        if (LinkIsUp(state))
            return Act(LinkAction::kClose, LinkReason::kHostLetGo, nowMs);
    }
    if (state.sleepAsked && CloseForSleep(state, nowMs))
        return Act(LinkAction::kClose, LinkReason::kSleep, nowMs);
    uint64_t dueMs = kNeverDue;
    if (state.wakeDue) {
        const uint64_t wakeDueMs = WakeRelinkDueMs(state);
        if (nowMs >= wakeDueMs) {
            state.wakeDue = false;
            state.lastWakeRelinkMs = nowMs;
            if (LinkIsUp(state))
                state.lastForcedCloseMs = nowMs;
            return BringUp(state, LinkReason::kWake, nowMs);
        }
        dueMs = wakeDueMs;
    }
    if (state.answerWaiting) { // a link up and sound needs no other port
        state.answerWaiting = false;
        if (state.answerNamesOtherPort && state.link != LinkCondition::kUp) {
            state.hasPort = true;
            return BringUp(state, LinkReason::kSearchAnswer, nowMs);
        }
    }
    if (state.relinkAsked) {
        state.relinkAsked = false;
        if (state.link != LinkCondition::kUp)
            return BringUp(state, LinkReason::kRequest, nowMs);
    }
    if (state.link == LinkCondition::kStale && state.writeFailures > qorn::kRelinkAfterFailures)
        return BringUp(state, LinkReason::kWriteFailures, nowMs);
    if (SilentRetryWanted(state)) {
        if (nowMs >= SilentRetryDueMs(state))
            return BringUp(state, LinkReason::kHostSilent, nowMs);
        dueMs = std::min(dueMs, SilentRetryDueMs(state));
    }
    if (state.searchRunning) // its answer, or its bound
        dueMs = std::min(dueMs, state.lastSearchMs + qorn::kDriverDiscoveryTimeoutMs);
    if (SearchWanted(state)) {
        if (nowMs >= SearchDueMs(state)) {
            state.searchRunning = true;
            state.lastSearchMs = nowMs;
            return Act(LinkAction::kStartSearch, LinkReason::kSearch, nowMs);
        }
        dueMs = std::min(dueMs, SearchDueMs(state));
    }
    return LinkDecision{LinkAction::kNone, LinkReason::kNothingDue, dueMs};
}
