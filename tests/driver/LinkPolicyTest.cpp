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

// Search answers: the display's record names another port; a record of the
// display names the port in use (and another); no record names the display.
constexpr SearchAnswer kElsewhere{false, false, true};
constexpr SearchAnswer kNamesPortInUse{true, true, true};
constexpr SearchAnswer kNoDisplay{};

struct Step {
    uint64_t atMs; // after the row's start
    std::vector<LinkEvent> events;
    LinkAction action;
    uint64_t dueInMs;                 // after the step's time; kNever: nothing waits
    int suspended = -1;               // the host suspends (1) or resumes (0) the display first
    SearchAnswer answer = kNoDisplay; // of a kSearchAnswered among the events
    bool newPort = false;             // the action takes the answer's port
};

// Every row starts opened on a port, the link up or down, the host's latest
// call and the latest attempt at the start or (idle) 6 s before it.
enum class From { kUp, kDown, kUpIdle, kDownIdle };

struct Row {
    const char* name;
    From from;
    std::vector<Step> steps;
};

LinkState StartOf(const Row& row) {
    LinkState state;
    state.opened = state.hasPort = true;
    const bool idle = row.from == From::kUpIdle || row.from == From::kDownIdle;
    const bool up = row.from == From::kUp || row.from == From::kUpIdle;
    state.link = up ? LinkCondition::kUp : LinkCondition::kDown;
    state.lastHostCallMs = state.lastAttemptMs = kStart - (idle ? 6000 : 0);
    return state;
}

std::vector<LinkEvent> Repeat(LinkEvent event, int times) {
    return std::vector<LinkEvent>(static_cast<size_t>(times), event);
}

const Row kRows[] = {
    {"the open command; with no port nothing opens and the display is looked for",
     From::kUp,
     {{0, {E::kOpenOnPort}, A::kCloseThenOpen, 0},
      {1100, {E::kLinkClosed, E::kLinkCameUp}, A::kNone, kNever},
      {2000, {E::kOpenWithoutPort}, A::kClose, 0},
      {2010, {E::kLinkClosed}, A::kNone, 14990},
      {17000, {}, A::kStartSearch, 0}}},
    {"stale at the 4th failed write, re-linked at the 21st",
     From::kUp,
     {{0, Repeat(E::kWriteFailed, 3), A::kNone, 5000},
      {10, Repeat(E::kWriteFailed, 17), A::kNone, 4990},
      {20, {E::kWriteFailed}, A::kCloseThenOpen, 0},
      {1100, {E::kLinkClosed, E::kLinkCameUp, E::kWriteSucceeded}, A::kNone, kNever}}},
    {"a re-link request or a resume: a link down or stale comes up; at a resume once the records "
     "were looked at, or 0.5 s later",
     From::kDown,
     {{0, {E::kRelinkRequest}, A::kOpen, 0},
      {10, {E::kLinkFailed, E::kResume}, A::kStartSearch, 0},
      {20, {E::kSearchAnswered}, A::kOpen, 0},
      {1100, {E::kLinkCameUp, E::kRelinkRequest, E::kResume}, A::kNone, kNever},
      {1200, Repeat(E::kWriteFailed, 4), A::kNone, 4900},
      {2210, {E::kResume}, A::kStartSearch, 0},
      {2220, {}, A::kNone, 490},
      {2710, {}, A::kCloseThenOpen, 0}}},
    {"device-change broadcasts: a burst is one look at the records 250 ms later, link up or not, "
     "at most one a second; a sound link on a listed port is kept, one whose port is gone moves",
     From::kUp,
     {{0, {E::kDevicesChanged, E::kDevicesChanged}, A::kNone, 250},
      {250, {}, A::kStartSearch, 0},
      {260, {E::kSearchAnswered, E::kDevicesChanged}, A::kNone, 990, -1, {false, true, true}},
      {1250, {}, A::kStartSearch, 0},
      {1260, {E::kSearchAnswered}, A::kCloseThenOpen, 0, -1, kElsewhere, true}}},
    {"the close command closes, link up or down; nothing opens after it",
     From::kDown,
     {{0, {E::kClose}, A::kClose, 0},
      {10, {E::kRelinkRequest, E::kWake, E::kSleep}, A::kNone, kNever},
      {60000, {}, A::kNone, kNever}}},
    {"the suspend command closes a link that is up",
     From::kUp,
     {{0, {E::kSuspend}, A::kClose, 0}, {10, {E::kLinkClosed, E::kSuspend}, A::kNone, 4990}}},
    {"host silent: a lost link is retried 5 s after its last call, then every 5 s; one whose "
     "latest write failed as well",
     From::kDown,
     {{0, {}, A::kNone, 5000},
      {5000, {}, A::kOpen, 0},
      {5010, {E::kLinkFailed}, A::kNone, 5000},
      {10010, {}, A::kOpen, 0},
      {11010, {E::kLinkCameUp, E::kWriteFailed}, A::kNone, 5000},
      {16010, {}, A::kCloseThenOpen, 0}}},
    {"suspended by the host: the suspend command closes the link, no event opens it, a search's "
     "answer waits for the resume (the answer while suspended)",
     From::kUp,
     {{0, {}, A::kNone, kNever, 1},
      {5, {E::kSuspend}, A::kClose, 0},
      {10,
       {E::kLinkClosed, E::kRelinkRequest, E::kWake, E::kSearchAnswered},
       A::kNone,
       kNever,
       -1,
       kElsewhere},
      {60000, {E::kDevicesChanged}, A::kNone, kNever},
      {60010, {E::kResume}, A::kStartSearch, 0, 0},
      {60020, {E::kSearchAnswered}, A::kOpen, 0, -1, kElsewhere, true}}},
    {"host silent 6 s, then sleep: closed once, not reopened before the wake, which reopens at "
     "once (the close undone at once)",
     From::kUpIdle,
     {{0, {E::kSleep}, A::kClose, 0},
      {35, {E::kLinkClosed}, A::kNone, 4965},
      {3000, {E::kWake}, A::kOpen, 0},
      {4000, {E::kLinkCameUp}, A::kNone, kNever}}},
    {"sleep events in a loop, the host writing: one close, and refused writes bring it back",
     From::kUp,
     {{0, {E::kSleep}, A::kClose, 0},
      {100, {E::kLinkClosed, E::kSleep}, A::kNone, 4900},
      {1050, {E::kSleep, E::kRelinkRequest}, A::kOpen, 0},
      {2050, {E::kLinkCameUp, E::kSleep}, A::kNone, kNever},
      {7000, {E::kSleep}, A::kNone, kNever}}},
    {"wake events in a loop: one forced re-link, the next wake 5 s later re-links again; the "
     "resume events of one wake re-link once",
     From::kUp,
     {{0, {E::kWake}, A::kCloseThenOpen, 0},
      {1000, {E::kLinkClosed, E::kLinkCameUp, E::kWake}, A::kNone, kNever},
      {3000, {E::kWake}, A::kNone, kNever},
      {5000, {E::kWake}, A::kCloseThenOpen, 0},
      {6000, {E::kLinkClosed, E::kLinkCameUp}, A::kNone, kNever}}},
    {"a wake with a sleep event since the last wake's re-link is held for the 5 s",
     From::kDown,
     {{0, {E::kWake}, A::kOpen, 0},
      {1000, {E::kLinkCameUp, E::kSleep}, A::kClose, 0},
      {1010, {E::kLinkClosed, E::kWake}, A::kNone, 3990},
      {5000, {}, A::kOpen, 0}}},
    {"sleep and wake alternating: at most one close and one open per 5 s",
     From::kUp,
     {{0, {E::kSleep}, A::kClose, 0},
      {100, {E::kLinkClosed, E::kWake}, A::kOpen, 0},
      {1100, {E::kLinkCameUp, E::kSleep, E::kWake}, A::kNone, 4000},
      {1200, {E::kSleep, E::kWake}, A::kNone, 3900},
      {5100, {E::kSleep}, A::kClose, 0},
      {5110, {E::kLinkClosed}, A::kOpen, 0},
      {6110, {E::kLinkCameUp, E::kSleep, E::kWake}, A::kNone, 4000}}},
    {"a port now another device's: 3 failed attempts over 15 s start a search whatever records "
     "exist; an answer whose display records name the port tried (and another) keeps it, one "
     "naming only another moves the link there; a search at most once a minute",
     From::kDownIdle,
     {{0, {}, A::kOpen, 0},
      {10, {E::kLinkFailed}, A::kNone, 5000},
      {5010, {E::kLinkFailed}, A::kNone, 5000},
      {10020, {E::kLinkFailed}, A::kNone, 4990},
      {15010, {}, A::kStartSearch, 0},
      {15020, {E::kSearchAnswered}, A::kOpen, 0, -1, kNamesPortInUse},
      {15030, {E::kLinkFailed}, A::kNone, 5000},
      {75010, {}, A::kOpen, 0},
      {75020, {E::kLinkFailed}, A::kStartSearch, 0},
      {75030, {E::kSearchAnswered}, A::kOpen, 0, -1, kElsewhere, true},
      {76030, {E::kLinkCameUp}, A::kNone, kNever}}},
};

} // namespace

// The outcomes of what the worker did are noted; every other event is decided,
// and the step's last decision checked.
bool IsOutcome(LinkEvent event) {
    return event >= E::kWriteSucceeded;
}

TEST(LinkPolicy, EveryRowDecidesAsDocumented) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        LinkState state = StartOf(row);
        for (const Step& step : row.steps) {
            SCOPED_TRACE(step.atMs);
            const uint64_t now = kStart + step.atMs;
            if (step.suspended >= 0)
                state.hostSuspended = step.suspended == 1;
            std::vector<LinkDecision> decisions;
            for (const LinkEvent event : step.events) {
                if (event == E::kSearchAnswered)
                    state.answer = step.answer;
                if (IsOutcome(event))
                    ApplyLinkEvent(state, event, now);
                else
                    decisions.push_back(DecideLink(state, event, now));
            }
            if (step.events.empty() || IsOutcome(step.events.back()))
                decisions.push_back(DecideLink(state, E::kTick, now));
            for (size_t i = 0; i + 1 < decisions.size(); ++i)
                EXPECT_EQ(static_cast<int>(decisions[i].action), 0) << "before the last event";
            const LinkDecision decision = decisions.back();
            EXPECT_EQ(static_cast<int>(decision.action), static_cast<int>(step.action));
            EXPECT_EQ(decision.dueMs, step.dueInMs == kNever ? kNever : now + step.dueInMs);
            EXPECT_EQ(decision.newPort, step.newPort);
        }
    }
}
