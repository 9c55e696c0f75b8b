// The link's promises as properties, checked over generated sequences of
// events: a seeded generator drives the one decision together with a small
// model of the world (the display on, off or asleep, the ports it answers on,
// the records that name it, other devices' records) and of the host's calls,
// whose refused output calls the driver's own WriteCells counts.
// On a failure the smallest failing sequence is printed as rows;
// QORN_LINK_SEED=N replays sequence N alone, or, with QORN_LINK_SEQUENCES=M,
// runs M sequences from N on.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LinkPolicy.h"
#include "SampleDriver.h"

namespace {

using E = LinkEvent;
using A = LinkAction;
constexpr uint64_t kStart = 1000000, kLinkUpMs = 1100; // a link-up: open, settle pause, size poll
const char* const kActions[] = {"nothing", "open", "close", "close and open", "search"};
struct {
    long decisions, linkUps, searches, moves, settled;
} g_seen; // how much of the policy the sequences reached

struct GenStep {
    size_t what;
    uint32_t gapMs, arg;
};

class World {
public:
    explicit World(bool log) : log_(log) {}
    std::string failure, rows;

    // What the generator makes happen, each after a gap.
    using Happening = std::pair<const char*, std::function<void(uint32_t)>>;
    const std::vector<Happening> happenings = {
        {"Open on a port", [this](uint32_t arg) { Open(int(arg % 4) + 1); }},
        {"Open, no port found", [this](uint32_t) { Open(0); }},
        {"Close", [this](uint32_t) { closing_ = true, Decide(E::kClose), End(); }},
        {"SetSuspended(1)", [this](uint32_t) { suspended_ = true, Decide(E::kSuspend); }},
        {"SetSuspended(0)", [this](uint32_t) { suspended_ = false, Decide(E::kResume); }},
        {"host writes", [this](uint32_t arg) { Writes(arg % 8 ? arg % 30 : 250, 15 + arg % 200); }},
        {"display off", [this](uint32_t) { displayOn_ = libraryLink_ = false, shows_ = 0; }},
        {"display on", [this](uint32_t) { displayOn_ = true; }},
        {"sleep and wake", [this](uint32_t arg) { SleepAndWake(arg); }},
        {"a sleep event", [this](uint32_t) { wakeRelinks_ = -1, Decide(E::kSleep); }},
        {"a wake event", [this](uint32_t) { wakeRelinks_ = -1, Decide(E::kWake); }},
        {"display re-paired", [this](uint32_t arg) { Repair(int(arg % 4) + 1, arg); }},
        {"another device's record", [this](uint32_t arg) { ToggleOther(int(arg % 4) + 1); }},
        {"worker given up", [this](uint32_t) { givenUp_ = true, Decide(E::kTick), End(); }},
        {"unload", [this](uint32_t) { alive_ = false, Decide(E::kTick), alive_ = true, End(); }},
        {"settle", [this](uint32_t arg) { Settle(arg % 2 == 0, 15 + arg % 200); }},
        {"a device-change broadcast", [this](uint32_t) { Decide(E::kDevicesChanged); }},
        {"re-paired, broadcast",
         [this](uint32_t arg) { Repair(int(arg % 4) + 1, arg), Decide(E::kDevicesChanged); }},
        {"500 broadcasts in 2 s", [this](uint32_t) { Storm(); }},
    };

    void Step(const GenStep& step) {
        Advance(now_ + step.gapMs);
        Log(std::string(happenings[step.what].first) + " (" + std::to_string(step.arg) +
            "); before it: display's records " + Ports(displayPorts_) +
            (displayOn_ ? "" : ", display off") + ", others' " + Ports(otherPorts_) +
            ", port in use " + Ports(Bit(port_)));
        happenings[step.what].second(step.arg);
    }

private:
    static int Bit(int port) { return port == 0 ? 0 : 1 << port; }
    static int Highest(int ports) { return ports == 0 ? 0 : 31 - __builtin_clz(unsigned(ports)); }
    static std::string Ports(int ports) {
        std::string names;
        for (int port = 1; port <= 4; ++port)
            names +=
                ports & Bit(port) ? (names.empty() ? "COM" : "+COM") + std::to_string(port) : "";
        return names.empty() ? "none" : names;
    }
    static bool Opens(A a) { return a == A::kOpen || a == A::kCloseThenOpen; }
    static bool Closes(A a) { return a == A::kClose || a == A::kCloseThenOpen; }
    std::string Now() const { return std::to_string(now_ - kStart) + " ms"; }
    void Log(const std::string& row) { rows += log_ ? Now() + "  " + row + "\n" : ""; }
    void Fail(const std::string& what) {
        failure = failure.empty() ? what + " at " + Now() : failure;
    }
    bool Wanted() const { return session_ && alive_ && !suspended_ && !closing_ && !givenUp_; }
    void End() { session_ = libraryLink_ = false; }

    void Open(int port) {
        End();
        session_ = true, suspended_ = closing_ = givenUp_ = searching_ = false;
        state_ = LinkState{}, port_ = port, found_ = mustMoveTo_ = believedShown_ = 0;
        lastSearchMs_ = lastLookMs_ = lastPowerCloseMs_ = lastWakeOpenMs_ = 0, wakeRelinks_ = -1;
        writeFailures_ = 0;
        Decide(port != 0 ? E::kOpenOnPort : E::kOpenWithoutPort);
    }

    // The worker: the decision, and what it answers carried out, until it answers nothing.
    void Decide(E event) {
        for (int turn = 0; session_ && failure.empty(); ++turn, event = E::kTick) {
            state_.alive = alive_, state_.hostSuspended = suspended_, state_.closing = closing_;
            state_.givenUp = givenUp_, state_.lastHostCallMs = lastCallMs_;
            sound_ = state_.link == LinkCondition::kUp && state_.writeFailures == 0;
            const LinkDecision d = DecideLink(state_, event, now_);
            if (d.action != A::kNone)
                Log(std::string("  decided: ") + kActions[int(d.action)] +
                    (d.newPort ? " on the found port" : ""));
            Check(d);
            g_seen.decisions++, g_seen.searches += d.action == A::kStartSearch,
                g_seen.moves += d.newPort;
            if (d.action == A::kNone)
                return void(due_ = std::max(d.dueMs, now_ + 1));
            if (turn == 8)
                return Fail("the decision acts without end");
            CarryOut(d);
        }
    }

    void Check(const LinkDecision& d) {
        if (Opens(d.action) && !Wanted())
            Fail("P1: the link opened while the host does not want it");
        if (d.newPort && (answerPorts_ & Bit(port_)))
            Fail("P2: a port a record of the display names left for another");
        if (d.newPort && sound_ && (answerListed_ & Bit(port_)))
            Fail("P2: a sound link on a port still listed moved");
        if (Opens(d.action) && mustMoveTo_ != 0 && !(d.newPort && found_ == mustMoveTo_))
            Fail("P3: a link-up after the search not on the port the display's record names");
        mustMoveTo_ = Opens(d.action) || d.action == A::kStartSearch ? 0 : mustMoveTo_;
        const bool powerClose = (d.reason == LinkReason::kSleep && Closes(d.action)) ||
                                (d.reason == LinkReason::kWake && d.action == A::kCloseThenOpen);
        if (powerClose && lastPowerCloseMs_ != 0 && now_ < lastPowerCloseMs_ + 5000)
            Fail("P4: two closes for power broadcasts within 5 s");
        lastPowerCloseMs_ = powerClose ? now_ : lastPowerCloseMs_;
        if (d.reason == LinkReason::kWake && Opens(d.action)) {
            if ((lastWakeOpenMs_ != 0 && now_ < lastWakeOpenMs_ + 5000) || ++wakeRelinks_ > 1)
                Fail("P4: one wake re-linked twice, or two wake re-links within 5 s");
            lastWakeOpenMs_ = now_;
        }
        if (std::exchange(relinkDue_, false) && d.action != A::kCloseThenOpen && Wanted())
            Fail("P6: no close and open at the 21st failed write");
        const bool search = d.action == A::kStartSearch, look = d.reason == LinkReason::kLook;
        if (search && !look &&
            (state_.link != LinkCondition::kDown ||
             (lastSearchMs_ != 0 && now_ < lastSearchMs_ + 60000)))
            Fail("P7: a search while the link is up, or two within a minute");
        if (search && look && lastLookMs_ != 0 && now_ < lastLookMs_ + 1000)
            Fail("P7: two looks at the records within a second");
        (search && look ? lastLookMs_ : search ? lastSearchMs_ : now_) = now_;
    }

    void CarryOut(const LinkDecision& d) {
        port_ = d.newPort ? found_ : port_;
        if (d.action == A::kStartSearch) // at times past its 10 s bound
            searching_ = true, searchEndsMs_ = now_ + 2 + now_ % 97 * 120;
        if (Closes(d.action))
            libraryLink_ = false, believedShown_ = 0, ApplyLinkEvent(state_, E::kLinkClosed, now_);
        const bool answers = displayOn_ && !asleep_ && (displayPorts_ & Bit(port_));
        if (!Opens(d.action))
            return;
        ApplyLinkEvent(state_, answers ? E::kLinkCameUp : E::kLinkFailed, now_);
        if (!answers)
            return;
        libraryLink_ = true, refusedRun_ = requests_ = writeFailures_ = 0;
        host_.m_skippedWrites = host_.m_relinkRequests = 0,
        host_.m_skipLimit = qorn::kSkipLimitNormal;
        g_seen.linkUps++;
        now_ += kLinkUpMs;
        WorkerWrite();
    }

    // The records-only search: what they say of the port in use, and the
    // display's port by the choice rules (here the highest it has).
    void Answer() {
        searching_ = false;
        SearchAnswer answer;
        if (searchEndsMs_ <= SearchStartedMs(state_) + qorn::kDriverDiscoveryTimeoutMs) {
            answer.portInUseNamed = displayPorts_ & Bit(port_);
            answer.portInUseListed = (displayPorts_ | otherPorts_) & Bit(port_);
            found_ = Highest(displayPorts_), answerPorts_ = displayPorts_;
            answerListed_ = displayPorts_ | otherPorts_;
            answer.otherPortNamed = found_ != 0 && found_ != port_;
            const bool kept = answer.portInUseListed && state_.link == LinkCondition::kUp &&
                              state_.writeFailures == 0; // sound, on a port still listed
            mustMoveTo_ = answer.otherPortNamed && !answer.portInUseNamed && !kept ? found_ : 0;
        }
        state_.answer = answer;
        ApplyLinkEvent(state_, E::kSearchAnswered, now_);
        Log("  the search answered");
        Decide(E::kTick);
    }

    // The time passes: the worker decides when it said it would and at other
    // times too (ticks, messages), and takes a search's answer once it came.
    void Advance(uint64_t toMs) {
        for (int n = 0; failure.empty() && session_ && !asleep_; ++n) {
            const uint64_t answerMs = std::min(searchEndsMs_, SearchStartedMs(state_) + 10000);
            uint64_t next = std::min({toMs, due_, now_ + 1 + (now_ * 2654435761u) % 4000});
            next = searching_ ? std::min(next, answerMs) : next;
            if (n > 100000)
                return Fail("the decision asks to be asked again without end");
            if (next >= toMs)
                break;
            now_ = std::max(now_, next);
            searching_&& now_ >= answerMs ? Answer() : Decide(E::kTick);
        }
        now_ = std::max(now_, toMs);
    }

    void WorkerWrite() {
        if (!LinkIsUp(state_) || believedShown_ == latest_)
            return;
        const bool written = libraryLink_ && displayOn_ && !asleep_;
        ApplyLinkEvent(state_, written ? E::kWriteSucceeded : E::kWriteFailed, now_);
        writeFailures_ = written ? 0 : writeFailures_ + 1;
        believedShown_ = shows_ = written ? latest_ : shows_;
        if ((state_.link == LinkCondition::kStale) != (writeFailures_ > 3))
            Fail("P6: the link not stale from the 4th failed write in a row on");
        relinkDue_ = writeFailures_ == 21;
    }

    void HostWrite() {
        lastCallMs_ = now_, ++latest_;
        if (!session_ || suspended_)
            return;
        host_.m_linkUp = LinkIsUp(state_);
        const uint8_t cells[12] = {uint8_t(latest_)};
        host_.WriteCells(cells, 12);
        if (LinkIsUp(state_)) { // a call that finds the link up restarts the count
            refusedRun_ = requests_ = 0;
            return WorkerWrite(), Decide(E::kTick);
        }
        const bool request = host_.m_skippedWrites == 0; // the count restarts at each request
        if (request != (++refusedRun_ == (requests_ < 6 ? 21 : 101)))
            Fail("P6: a re-link request not at the 21st refused call, then every 21st, and every "
                 "101st after six");
        if (request)
            refusedRun_ = 0, ++requests_, Decide(E::kRelinkRequest);
    }
    void Writes(uint32_t count, uint32_t intervalMs) {
        for (uint32_t i = 0; i <= count; ++i, Advance(now_ + intervalMs))
            HostWrite();
    }

    // Windows' order: the sleep broadcast, the sleep, the two resume events 300 ms apart.
    void SleepAndWake(uint32_t sleepMs) {
        wakeRelinks_ = -1, Decide(E::kSleep);
        asleep_ = true, libraryLink_ = false, shows_ = 0;
        Advance(now_ + sleepMs);
        asleep_ = false, wakeRelinks_ = 0, Decide(E::kWake);
        Advance(now_ + 300);
        Decide(E::kWake);
    }

    // A new port, maybe with a second record; the old one maybe a phone's now.
    void Repair(int port, uint32_t arg) {
        otherPorts_ |= arg & 4 ? displayPorts_ : 0;
        displayPorts_ = Bit(port) | (arg & 8 ? Bit(port % 4 + 1) : 0);
        otherPorts_ &= ~displayPorts_, libraryLink_ = false;
    }
    void Storm() {
        for (int i = 0; i < 500; ++i, Advance(now_ + 4))
            Decide(E::kDevicesChanged);
    }
    void ToggleOther(int port) { otherPorts_ = (otherPorts_ ^ Bit(port)) & ~displayPorts_; }

    // P5: once the display answers on a port its record names and the host
    // wants the link, the host's latest cells are shown within the silent
    // host's retry plus one link-up, or the refused-write requests of a writing host.
    void Settle(bool writing, uint32_t intervalMs) {
        displayOn_ = true;
        if (!session_ || closing_ || !(displayPorts_ & Bit(port_)))
            Open(Highest(displayPorts_));
        if (suspended_)
            suspended_ = false, Decide(E::kResume);
        if (!(displayPorts_ & Bit(port_)))
            return; // no record names the display: P3's case
        const uint64_t bound =
            now_ + kLinkUpMs + 100 +
            (writing ? (qorn::kSkipLimitBackoff + 2) * intervalMs : qorn::kSilentRetryAfterMs);
        auto back = [&] { return state_.link == LinkCondition::kUp && shows_ == latest_; };
        HostWrite();
        while (failure.empty() && !back() && now_ < bound)
            writing ? Writes(0, intervalMs) : Advance(now_ + 50);
        if (!back())
            Fail("P5: the display not back in time");
        g_seen.settled++;
    }

    const bool log_;
    int displayPorts_ = Bit(1), otherPorts_ = Bit(2), answerPorts_ = 0;
    bool displayOn_ = true, asleep_ = false, libraryLink_ = false, alive_ = true;
    uint32_t latest_ = 0, shows_ = 0, believedShown_ = 0; // versions of the host's cells
    bool session_ = false, suspended_ = false, closing_ = false, givenUp_ = false;
    uint64_t now_ = kStart, lastCallMs_ = 0, due_ = kNeverDue, searchEndsMs_ = 0;
    CBrailleSampleDriver host_; // no session: its output calls only count
    LinkState state_;
    int port_ = 0, found_ = 0, mustMoveTo_ = 0;
    bool searching_ = false, relinkDue_ = false;
    int writeFailures_ = 0, refusedRun_ = 0, requests_ = 0, wakeRelinks_ = -1;
    uint64_t lastSearchMs_ = 0, lastLookMs_ = 0, lastPowerCloseMs_ = 0, lastWakeOpenMs_ = 0;
    int answerListed_ = 0;
    bool sound_ = false;
};

std::vector<GenStep> Generate(uint64_t seed, int steps) {
    std::mt19937_64 random(seed);
    std::vector<GenStep> sequence;
    const size_t kinds = World(false).happenings.size();
    for (int i = 0; i < steps; ++i) { // gaps from a millisecond to ten minutes
        const auto gapMs = uint32_t(std::exp(std::uniform_real_distribution<>(0, 13.3)(random)));
        sequence.push_back(GenStep{random() % kinds, gapMs, uint32_t(random() % 100000)});
    }
    return sequence;
}

std::string Failure(const std::vector<GenStep>& sequence, std::string* rows = nullptr) {
    World world(rows != nullptr);
    for (size_t i = 0; i < sequence.size() && world.failure.empty(); ++i)
        world.Step(sequence[i]);
    if (rows != nullptr)
        *rows = world.rows;
    return world.failure;
}

// Leaves out one step after another while the sequence still fails.
std::vector<GenStep> Shrink(std::vector<GenStep> sequence) {
    for (size_t at = 0; at < sequence.size();) {
        std::vector<GenStep> shorter(sequence.begin(), sequence.begin() + long(at));
        shorter.insert(shorter.end(), sequence.begin() + long(at) + 1, sequence.end());
        const bool fails = !Failure(shorter).empty();
        sequence = fails ? shorter : sequence;
        at += fails ? 0 : 1;
    }
    return sequence;
}

} // namespace

TEST(LinkProperties, HoldOverMillionsOfGeneratedSteps) {
    constexpr int kSequences = 30000, kSteps = 100;
    const char* replay = std::getenv("QORN_LINK_SEED");
    const uint64_t first = replay != nullptr ? std::strtoull(replay, nullptr, 10) : 20261210;
    const char* more = std::getenv("QORN_LINK_SEQUENCES");
    const int count = more != nullptr ? std::atoi(more) : replay != nullptr ? 1 : kSequences;
    printf(
        "link properties: sequences %llu to %llu, %d steps each (QORN_LINK_SEED=N replays one)\n",
        (unsigned long long)first, (unsigned long long)(first + count - 1), kSteps);
    for (int i = 0; i < count; ++i) {
        const std::vector<GenStep> sequence = Generate(first + i, kSteps);
        if (Failure(sequence).empty())
            continue;
        std::string rows;
        const std::string failure = Failure(Shrink(sequence), &rows);
        FAIL() << "sequence " << first + i << ": " << failure << "; the smallest failing one:\n"
               << rows;
    }
    printf("%ld decisions, %ld link-ups, %ld searches, %ld moves to a found port, %ld times the "
           "display back (P5)\n",
           g_seen.decisions, g_seen.linkUps, g_seen.searches, g_seen.moves, g_seen.settled);
}
