// The link's one decision: each row is a sequence of events and the action
// and next due time decided after each, with the outcome of every action
// coming back as an event of the next step.
#include <vector>

#include <gtest/gtest.h>

#include "LinkPolicy.h"

namespace {

using A = LinkAction;
using E = LinkEvent;
constexpr uint64_t kStart = 1000000; // every row begins here
constexpr uint64_t kNever = kNeverDue;

struct Step {
    uint64_t atMs; // after the row's start
    std::vector<LinkEvent> events;
    LinkAction action;
    uint64_t dueInMs;   // after the step's time; kNever: nothing waits
    int suspended = -1; // the host suspends (1) or resumes (0) the display first
};

struct Row {
    const char* name;
    LinkState start;
    std::vector<Step> steps;
};

// Opened on a port, the link up, the host's latest call at the start.
LinkState Linked() {
    LinkState state;
    state.opened = state.hasPort = true;
    state.link = LinkCondition::kUp;
    state.lastHostCallMs = state.lastAttemptMs = kStart;
    return state;
}

LinkState Down() {
    LinkState state = Linked();
    state.link = LinkCondition::kDown;
    return state;
}

LinkState Silent(LinkState state, uint64_t silentMs) {
    state.lastHostCallMs = state.lastAttemptMs = kStart - silentMs;
    return state;
}

LinkState Suspended(LinkState state) {
    state.hostSuspended = true;
    return state;
}

std::vector<LinkEvent> Repeat(LinkEvent event, int times) {
    return std::vector<LinkEvent>(static_cast<size_t>(times), event);
}

const Row kRows[] = {
    {"the open command opens; with no port nothing does, and the display is looked for",
     LinkState{},
     {{0, {E::kOpenOnPort}, A::kOpen, 0},
      {1100, {E::kLinkCameUp}, A::kNone, kNever},
      {2000, {E::kLinkClosed, E::kOpenWithoutPort}, A::kNone, 15000},
      {17000, {}, A::kStartSearch, 0}}},
    {"a second open command opens anew", Linked(), {{0, {E::kOpenOnPort}, A::kCloseThenOpen, 0}}},
    {"stale at the 4th failed write, re-linked at the 21st",
     Linked(),
     {{0, Repeat(E::kWriteFailed, 3), A::kNone, 5000},
      {10, Repeat(E::kWriteFailed, 17), A::kNone, 4990},
      {20, {E::kWriteFailed}, A::kCloseThenOpen, 0},
      {1100, {E::kLinkClosed, E::kLinkCameUp, E::kWriteSucceeded}, A::kNone, kNever}}},
    {"a re-link request brings up a link down, not one up",
     Down(),
     {{0, {E::kRelinkRequest}, A::kOpen, 0},
      {10, {E::kLinkFailed, E::kRelinkRequest}, A::kOpen, 0},
      {1100, {E::kLinkCameUp, E::kRelinkRequest}, A::kNone, kNever}}},
    {"a resume re-links a stale link only",
     Linked(),
     {{0, {E::kResume}, A::kNone, kNever},
      {10, Repeat(E::kWriteFailed, 4), A::kNone, 4990},
      {20, {E::kResume}, A::kCloseThenOpen, 0}}},
    {"the close command closes, link up or down; nothing opens after it",
     Down(),
     {{0, {E::kClose}, A::kClose, 0},
      {10, {E::kRelinkRequest, E::kWake, E::kSleep}, A::kNone, kNever},
      {60000, {}, A::kNone, kNever}}},
    {"the suspend command closes a link that is up",
     Linked(),
     {{0, {E::kSuspend}, A::kClose, 0}, {10, {E::kLinkClosed, E::kSuspend}, A::kNone, 4990}}},
    {"host silent: a lost link is retried 5 s after its last call, then every 5 s",
     Down(),
     {{0, {}, A::kNone, 5000},
      {5000, {}, A::kOpen, 0},
      {5010, {E::kLinkFailed}, A::kNone, 5000},
      {10010, {}, A::kOpen, 0}}},
    {"host silent: a link whose latest write failed is retried as well",
     Silent(Linked(), 6000),
     {{0, {E::kWriteFailed}, A::kCloseThenOpen, 0}}},
    {"suspended by the host: the link closes, no event opens it, a search's answer waits for "
     "the resume (the answer while suspended)",
     Suspended(Linked()),
     {{0, {}, A::kClose, 0},
      {10,
       {E::kLinkClosed, E::kRelinkRequest, E::kWake, E::kSearchFoundOtherPort},
       A::kNone,
       kNever},
      {60000, {}, A::kNone, kNever},
      {60010, {E::kResume}, A::kOpen, 0, 0}}},
    {"the driver unloading or the worker given up on: nothing touches the link",
     [] {
         LinkState state = Linked();
         state.alive = false;
         return state;
     }(),
     {{0, {E::kClose, E::kRelinkRequest}, A::kNone, kNever}}},
    {"host silent 6 s, then sleep: closed once, not reopened before the wake, which reopens at "
     "once (the close undone at once)",
     Silent(Linked(), 6000),
     {{0, {E::kSleep}, A::kClose, 0},
      {35, {E::kLinkClosed}, A::kNone, 4965},
      {3000, {E::kWake}, A::kOpen, 0},
      {4000, {E::kLinkCameUp}, A::kNone, kNever}}},
    {"sleep events in a loop, the host writing: one close, and refused writes bring it back",
     Linked(),
     {{0, {E::kSleep}, A::kClose, 0},
      {100, {E::kLinkClosed, E::kSleep}, A::kNone, 4900},
      {1050, {E::kSleep, E::kRelinkRequest}, A::kOpen, 0},
      {2050, {E::kLinkCameUp, E::kSleep}, A::kNone, kNever},
      {7000, {E::kSleep}, A::kNone, kNever}}},
    {"wake events in a loop: one forced re-link, the next 5 s later",
     Linked(),
     {{0, {E::kWake}, A::kCloseThenOpen, 0},
      {1000, {E::kLinkClosed, E::kLinkCameUp, E::kWake}, A::kNone, 4000},
      {3000, {E::kWake}, A::kNone, 2000},
      {5000, {}, A::kCloseThenOpen, 0},
      {6000, {E::kLinkClosed, E::kLinkCameUp}, A::kNone, kNever}}},
    {"sleep and wake alternating: at most one close and one open per 5 s",
     Linked(),
     {{0, {E::kSleep}, A::kClose, 0},
      {100, {E::kLinkClosed, E::kWake}, A::kOpen, 0},
      {1100, {E::kLinkCameUp, E::kSleep, E::kWake}, A::kNone, 4000},
      {1200, {E::kSleep, E::kWake}, A::kNone, 3900},
      {5100, {E::kSleep}, A::kClose, 0},
      {5110, {E::kLinkClosed}, A::kOpen, 0},
      {6110, {E::kLinkCameUp, E::kSleep, E::kWake}, A::kNone, 4000}}},
    {"a port now another device's: 3 failed attempts over 15 s start a search whatever records "
     "exist; its answer moves the link to the display's port",
     Silent(Down(), 6000),
     {{0, {}, A::kOpen, 0},
      {10, {E::kLinkFailed}, A::kNone, 5000},
      {5010, {}, A::kOpen, 0},
      {5020, {E::kLinkFailed}, A::kNone, 5000},
      {10020, {}, A::kOpen, 0},
      {10030, {E::kLinkFailed}, A::kNone, 4980},
      {15010, {}, A::kStartSearch, 0},
      {15020, {E::kSearchFoundOtherPort}, A::kOpen, 0},
      {16020, {E::kLinkCameUp}, A::kNone, kNever}}},
    {"the display's record names the port tried: it is kept; the next search a minute later",
     Silent(Down(), 6000),
     {{0, {E::kLinkFailed, E::kLinkFailed, E::kLinkFailed}, A::kNone, 5000},
      {15000, {}, A::kOpen, 0},
      {15010, {E::kLinkFailed}, A::kStartSearch, 0},
      {15020, {E::kSearchFoundNothingNew}, A::kNone, 4990},
      {20010, {}, A::kOpen, 0},
      {20020, {E::kLinkFailed}, A::kNone, 5000},
      {75010, {}, A::kOpen, 0},
      {75020, {E::kLinkFailed}, A::kStartSearch, 0}}},
};

} // namespace

TEST(LinkPolicy, EveryRowDecidesAsDocumented) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        LinkState state = row.start;
        for (const Step& step : row.steps) {
            SCOPED_TRACE(step.atMs);
            const uint64_t now = kStart + step.atMs;
            if (step.suspended >= 0)
                state.hostSuspended = step.suspended == 1;
            for (const LinkEvent event : step.events)
                ApplyLinkEvent(state, event, now);
            const LinkDecision decision = DecideLink(state, now);
            EXPECT_EQ(static_cast<int>(decision.action), static_cast<int>(step.action));
            EXPECT_EQ(decision.dueMs, step.dueInMs == kNever ? kNever : now + step.dueInMs);
        }
    }
}

TEST(LinkPolicy, StaleAfterTheFourthFailedWriteAndSoundAfterASuccess) {
    LinkState state = Linked();
    const LinkCondition expected[] = {LinkCondition::kUp, LinkCondition::kUp, LinkCondition::kUp,
                                      LinkCondition::kStale};
    for (const LinkCondition condition : expected) {
        ApplyLinkEvent(state, E::kWriteFailed, kStart);
        EXPECT_EQ(static_cast<int>(state.link), static_cast<int>(condition));
    }
    ApplyLinkEvent(state, E::kWriteSucceeded, kStart);
    EXPECT_EQ(static_cast<int>(state.link), static_cast<int>(LinkCondition::kUp));
    EXPECT_EQ(state.writeFailures, 0);
}
