// The device library misbehaving inside the screen reader's process, through
// the real driver: every ordinal raising every kind of exception at every place
// the driver calls it, and calls that do not return for 20 s. Every host call
// must return (Close and SetSuspended within their bound), the process must
// live, the display must be served again, and the debugger must be told; and a
// host process that ends with the link up must end at once.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>

#include "ChildProgram.h"
#include "DebuggerOutput.h"
#include "DisplayTraffic.h"
#include "DriverFixture.h"
#include "ProcessCensus.h"
#include "ReliabilityTable.h"

namespace {

struct FaultKind {
    const char* name;
    DWORD reportedCode;
    void (*arm)(int ordinal);
};

void ThrowCpp(int ordinal) {
    SimThrowOnNext(ordinal, 1);
}
void RaiseAccessViolation(int ordinal) {
    SimRaiseOnNext(ordinal, 1, EXCEPTION_ACCESS_VIOLATION);
}
// The code with which Microsoft's C++ runtime raises every C++ exception.
void RaiseMicrosoftCpp(int ordinal) {
    SimRaiseOnNext(ordinal, 1, 0xE06D7363);
}
void RaiseDivideByZero(int ordinal) {
    SimRaiseOnNext(ordinal, 1, EXCEPTION_INT_DIVIDE_BY_ZERO);
}
// Warning severity: a breakpoint left in a release build, a guard page.
void RaiseBreakpoint(int ordinal) {
    SimRaiseOnNext(ordinal, 1, EXCEPTION_BREAKPOINT);
}
void RaiseGuardPage(int ordinal) {
    SimRaiseOnNext(ordinal, 1, EXCEPTION_GUARD_PAGE);
}

const FaultKind kKinds[] = {
    {"C++ (same runtime)", 0x20474343, ThrowCpp},
    {"access violation", EXCEPTION_ACCESS_VIOLATION, RaiseAccessViolation},
    {"Microsoft C++", 0xE06D7363, RaiseMicrosoftCpp},
    {"divide by zero", EXCEPTION_INT_DIVIDE_BY_ZERO, RaiseDivideByZero},
    {"breakpoint", EXCEPTION_BREAKPOINT, RaiseBreakpoint},
    {"guard page", EXCEPTION_GUARD_PAGE, RaiseGuardPage},
};

// Where the driver calls into the library.
enum class Place {
    kOpen,
    kRelink,
    kWrite,
    kServiceTick,
    kDeviceVersion,
    kClose,
    kSuspend,
};

struct FaultPoint {
    int ordinal;
    Place place;
    const char* where;
};

const FaultPoint kPoints[] = {
    {15, Place::kOpen, "Open"},
    {15, Place::kRelink, "re-link"},
    {14, Place::kOpen, "Open"},
    {14, Place::kRelink, "re-link"},
    {10, Place::kOpen, "Open"},
    {10, Place::kRelink, "re-link"},
    {3, Place::kWrite, "write"},
    {16, Place::kServiceTick, "service tick"},
    {9, Place::kDeviceVersion, "GetDeviceVersion"},
    {2, Place::kRelink, "re-link"},
    {2, Place::kClose, "Close"},
    {2, Place::kSuspend, "SetSuspended"},
};

struct OrdinalTally {
    std::string places;
    int cases = 0;
    int answered = 0;
    int served = 0;
    int reported = 0;
    double slowestMs = 0;
};

std::string Hex(DWORD code) {
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

constexpr int32_t kDeviceVersion = 0x010402; // the simulated display's three bytes

class LibraryFaultTest : public DriverTest {
protected:
    // Arms the fault and makes the host calls that reach the ordinal at that
    // place. True when every host call gave the answer of a call that failed.
    bool Provoke(const FaultPoint& point, const FaultKind& kind, uint32_t* sequence) {
        const int callsBefore = SimCountCalls(point.ordinal);
        switch (point.place) {
        case Place::kOpen:
            driver->Close();
            kind.arm(point.ordinal);
            return driver->Open("COM5", &host, "", "") == 1 && driver->GetCellCount() == 12;
        case Place::kRelink: {
            kind.arm(point.ordinal);
            CallTimes times;
            return FailWritesUntilCalled(host, point.ordinal, 1, 5, sequence, times);
        }
        case Place::kWrite: {
            kind.arm(point.ordinal);
            uint8_t cells[kCells];
            PatternCells(5, (*sequence)++, cells);
            return driver->WriteCells(cells, kCells) != 0 &&
                   SimWaitCallsReturned(3, callsBefore + 1, 5000) == 1;
        }
        case Place::kServiceTick:
            kind.arm(point.ordinal);
            return SimWaitCallsReturned(16, callsBefore + 1, 5000) == 1;
        case Place::kDeviceVersion:
            kind.arm(point.ordinal);
            return driver->GetDeviceVersion() == 0 && driver->GetDeviceVersion() == kDeviceVersion;
        case Place::kClose:
            kind.arm(point.ordinal);
            driver->Close();
            return fields->m_linkUp == 0 && driver->Open("COM5", &host, "", "") == 1;
        case Place::kSuspend:
            kind.arm(point.ordinal);
            return driver->SetSuspended(1) != 0 && fields->m_linkUp == 0 &&
                   driver->SetSuspended(0) != 0 && fields->m_linkUp == 1;
        }
        return false;
    }
};

} // namespace

TEST_F(LibraryFaultTest, EveryOrdinalRaisingAnythingAnywhereIsContained) {
    DebuggerOutput debugger;
    OpenWithDisplay();
    uint32_t sequence = 0;
    std::map<int, OrdinalTally> tallies;
    for (const FaultPoint& point : kPoints) {
        OrdinalTally& tally = tallies[point.ordinal];
        tally.places += tally.places.empty() ? point.where : std::string(", ") + point.where;
        for (const FaultKind& kind : kKinds) {
            SCOPED_TRACE(std::to_string(point.ordinal) + " at " + point.where + ": " + kind.name);
            debugger.Clear();
            const bool answered = Provoke(point, kind, &sequence);
            const double ms = WriteUntilShown(host, 6, &sequence, kRecoveryTimeoutMs);
            const bool served = ms >= 0 && WorkerRunning(fields);
            const bool reported = debugger.Count({"QornDriver: device library ordinal " +
                                                      std::to_string(point.ordinal) + " ",
                                                  Hex(kind.reportedCode)}) == 1;
            ++tally.cases;
            tally.answered += answered;
            tally.served += served;
            tally.reported += reported;
            tally.slowestMs = std::max(tally.slowestMs, ms);
            EXPECT_TRUE(answered);
            EXPECT_TRUE(served);
            EXPECT_TRUE(reported) << (debugger.Lines().empty() ? "" : debugger.Lines().back());
        }
    }
    Press(0, 0x01, 0);
    EXPECT_EQ(host.keys.size(), 1u);
    for (const auto& [ordinal, tally] : tallies)
        ReportRow("2 faults",
                  "ordinal " + std::to_string(ordinal) +
                      " raising C++, AV, MS C++, /0, breakpoint, guard page at: " + tally.places,
                  "host calls answered %d/%d; served again %d/%d, slowest %.0f ms; told to the "
                  "debugger %d/%d",
                  tally.answered, tally.cases, tally.served, tally.cases, tally.slowestMs,
                  tally.reported, tally.cases);
}

namespace {

constexpr DWORD kHangMs = 20000;
constexpr double kOpenBoundMs = 5000;
constexpr double kHostCallBoundMs = 3000;
// Timing margin over a bound for a busy machine; the table shows the real figure.
constexpr double kMarginMs = 1000;

constexpr char kStuckWorkerFormat[] =
    "SetSuspended(1) %.0f ms, (0) %.0f ms; Close %.0f ms; new Open linked and served: %s";

struct LongestHostCalls {
    double open = 0, close = 0, suspend = 0;
};

class HangTest : public DriverTest {
protected:
    bool OpenAndServe(uint32_t* sequence) { return ::OpenAndServe(host, sequence); }

    // Close on a worker stuck in the library: returns in time and lets go of
    // it. The worker's thread is kept here (a handle of the test's own) to see it end.
    double CloseAbandoning() {
        const HANDLE worker = DuplicateThreadHandle(fields->m_hWorkerThread);
        const double ms = Timed([&] { driver->Close(); });
        if (fields->m_hWorkerThread == nullptr && worker != nullptr &&
            WaitForSingleObject(worker, 0) == WAIT_TIMEOUT)
            abandoned.push_back(worker);
        else if (worker != nullptr)
            CloseHandle(worker);
        return ms;
    }

    // Makes the ordinal's next call hang, has trigger() bring it about, and
    // waits until the worker is in it.
    bool HangNextCall(int ordinal, const std::function<void()>& trigger = {}) {
        const int calls = SimCountCalls(ordinal);
        SimSetDelay(ordinal, kHangMs);
        if (trigger)
            trigger();
        return WaitFor([&] { return SimCountCalls(ordinal) > calls; }, 5000);
    }

    // With the worker stuck in a call: suspend, resume and Close, each timed.
    struct StuckWorkerCalls {
        double suspend, resume, close;
        bool servedAfter;
    };
    StuckWorkerCalls SuspendResumeCloseAndReopen(int hungOrdinal, uint32_t* sequence) {
        StuckWorkerCalls calls{};
        calls.suspend = Timed([&] { driver->SetSuspended(1); });
        calls.resume = Timed([&] { driver->SetSuspended(0); });
        calls.close = CloseAbandoning();
        EndHang(hungOrdinal);
        calls.servedAfter = OpenAndServe(sequence);
        return calls;
    }

    // The hung call returns: the next session's worker, waiting for its turn
    // in the library meanwhile, goes on.
    void EndHang(int ordinal) {
        SimSetDelay(ordinal, 0);
        SimEndDelays();
    }

    // True once every abandoned worker has ended; lets go of their threads.
    bool AbandonedWorkersEnd(DWORD timeoutMs) {
        bool ended = true;
        for (HANDLE worker : abandoned) {
            ended = ended && WaitForSingleObject(worker, timeoutMs) == WAIT_OBJECT_0;
            CloseHandle(worker);
        }
        return ended;
    }

    std::vector<HANDLE> abandoned;
};

} // namespace

TEST_F(HangTest, DeviceCallsHanging20SecondsNeverHoldTheHost) {
    DebuggerOutput debugger;
    uint32_t sequence = 0;
    // Warm-up: the display's key thread, the window class, and the system's
    // debugger-output mutex, made at the first text a process sends.
    ASSERT_TRUE(OpenAndServe(&sequence));
    SimRaiseOnNext(3, 1, EXCEPTION_ACCESS_VIOLATION);
    ASSERT_GE(WriteUntilShown(host, 7, &sequence, kRecoveryTimeoutMs), 0.0);
    driver->Close();
    debugger.Clear();
    const ProcessCensus before = TakeCensus();
    LongestHostCalls longest;
    char measured[4][160];

    // The device open hangs at Open: Open goes on after its bound.
    SimSetDelay(15, kHangMs);
    int32_t opened = 0;
    const double openMs = Timed([&] { opened = driver->Open("COM5", &host, "", ""); });
    longest.open = openMs;
    const double closeAfterOpenMs = CloseAbandoning();
    EndHang(15);
    const bool servedAfterOpen = OpenAndServe(&sequence);
    snprintf(measured[0], sizeof measured[0],
             "Open returned %d after %.0f ms; Close %.0f ms; new Open linked and served: %s",
             opened, openMs, closeAfterOpenMs, servedAfterOpen ? "yes" : "NO");

    // A cell write hangs, with the next write queued behind it: suspend,
    // resume and Close each return in time, and the next session's writes
    // are not held up by the write command left in the abandoned queue.
    uint8_t cells[kCells];
    ASSERT_TRUE(HangNextCall(3, [&] {
        PatternCells(8, sequence++, cells);
        driver->WriteCells(cells, kCells);
    }));
    PatternCells(8, sequence++, cells);
    EXPECT_NE(driver->WriteCells(cells, kCells), 0);
    const StuckWorkerCalls write = SuspendResumeCloseAndReopen(3, &sequence);
    snprintf(measured[1], sizeof measured[1], kStuckWorkerFormat, write.suspend, write.resume,
             write.close, write.servedAfter ? "yes" : "NO");

    // The device close hangs in Close.
    SimSetDelay(2, kHangMs);
    const double closeHungMs = CloseAbandoning();
    EndHang(2);
    const bool servedAfterClose = OpenAndServe(&sequence);
    snprintf(measured[2], sizeof measured[2], "Close %.0f ms; new Open linked and served: %s",
             closeHungMs, servedAfterClose ? "yes" : "NO");

    // The service call hangs on a tick.
    ASSERT_TRUE(HangNextCall(16));
    const StuckWorkerCalls tick = SuspendResumeCloseAndReopen(16, &sequence);
    snprintf(measured[3], sizeof measured[3], kStuckWorkerFormat, tick.suspend, tick.resume,
             tick.close, tick.servedAfter ? "yes" : "NO");
    driver->Close();
    longest.close = std::max({closeAfterOpenMs, write.close, closeHungMs, tick.close});
    longest.suspend = std::max({write.suspend, write.resume, tick.suspend, tick.resume});

    // Each abandoned worker ends once its call returns, and leaves nothing behind.
    const size_t abandonedCount = abandoned.size();
    const LARGE_INTEGER waitStart = Now();
    const bool allEnded = AbandonedWorkersEnd(kHangMs + 5000);
    const double endedAfterMs = MillisecondsSince(waitStart);
    const ProcessCensus after = TakeCensus();
    const int abandonReports = debugger.Count({"QornDriver: ", "abandoned"});

    const char* const hung[] = {"device open (15) hangs at Open until after Close",
                                "cell write (3) hangs until after Close",
                                "device close (2) hangs in Close until after it",
                                "service call (16) hangs on a tick until after Close"};
    for (int i = 0; i < 4; ++i)
        ReportRow("2 faults", hung[i], "%s", measured[i]);
    ReportRow(
        "2 faults", "the four hangs above: longest host calls, abandoned workers, census",
        "longest Open %.0f ms (bound %.0f), Close %.0f ms, SetSuspended %.0f ms (bound %.0f); "
        "%zu workers abandoned, all ended: %s (%.1f s later); threads %s, handles %s, heap "
        "%s; %d told to the debugger",
        longest.open, kOpenBoundMs, longest.close, longest.suspend, kHostCallBoundMs,
        abandonedCount, allEnded ? "yes" : "NO", endedAfterMs / 1000.0,
        Change(before.threads, after.threads).c_str(),
        Change(before.handles, after.handles).c_str(),
        ByteChange(before.heapBytes, after.heapBytes).c_str(), abandonReports);

    EXPECT_EQ(opened, 1);
    EXPECT_GE(openMs, kOpenBoundMs - 100);
    EXPECT_LT(longest.open, kOpenBoundMs + kMarginMs);
    EXPECT_LT(longest.close, kHostCallBoundMs + kMarginMs);
    EXPECT_LT(longest.suspend, kHostCallBoundMs + kMarginMs);
    EXPECT_TRUE(servedAfterOpen);
    EXPECT_TRUE(write.servedAfter);
    EXPECT_TRUE(servedAfterClose);
    EXPECT_TRUE(tick.servedAfter);
    EXPECT_EQ(abandonedCount, 4u);
    EXPECT_EQ(abandonReports, 4);
    EXPECT_TRUE(allEnded);
    EXPECT_LE(after.threads, before.threads);
    EXPECT_LE(after.handles, before.handles + 8);
    EXPECT_LE(after.heapBytes, before.heapBytes + 16 * 1024);
}

// The two device calls that answer a host call directly, the version query and
// the key window's registration at Open, hanging 20 s: the host's call returns
// within its bound, and what the library answers later is put to use.
TEST_F(HangTest, VersionQueryAndKeyWindowRegistrationHangingAreBounded) {
    DebuggerOutput debugger;
    uint32_t sequence = 0;
    ASSERT_TRUE(OpenAndServe(&sequence));
    SimSetDeviceData(1, 4, 2);

    // Two threads asking at once, while the display answers: each its own answer.
    std::atomic<int> right{0};
    auto ask = [&] {
        for (int i = 0; i < 50; ++i)
            right += driver->GetDeviceVersion() == kDeviceVersion;
    };
    std::thread other(ask);
    ask();
    other.join();

    const int asked = SimCountCalls(9);
    SimSetDelay(9, kHangMs);
    int32_t hungAnswer = -1;
    const double versionMs = Timed([&] { hungAnswer = driver->GetDeviceVersion(); });
    SimSetDelay(9, 0);
    const bool returned = SimWaitCallsReturned(9, asked + 1, kHangMs + 5000) == 1;
    const int32_t afterwards = driver->GetDeviceVersion();
    driver->Close();

    SimSetDelay(14, kHangMs);
    int32_t opened = 0;
    const double openMs = Timed([&] { opened = driver->Open("COM5", &host, "", ""); });
    SimSetDelay(14, 0);
    const bool registered = SimWaitCallsReturned(14, SimCountCalls(14), kHangMs + 5000) == 1;
    host.ClearRecords();
    Press(0, 0x20, 0);
    const bool keyArrived = host.keys.size() == 1 && host.keys[0].name == "qwerty:RightArrow";
    const double closeMs = Timed([&] { driver->Close(); });
    const int gaveUp = debugger.Count({"QornDriver: ", "gave up"});

    ReportRow("2 faults", "version query (9) hangs 20 s; two threads asking 50 times each before",
              "longest GetDeviceVersion %.0f ms (bound %.0f), answered %d; %d/100 right answers "
              "from two threads; after the hung call returned: 0x%06X",
              versionMs, kHostCallBoundMs, hungAnswer, right.load(), afterwards);
    ReportRow("2 faults", "key window's registration (14) hangs 20 s at Open",
              "Open returned %d after %.0f ms (bound %.0f plus its link-up); key after the "
              "registration returned: %s; Close %.0f ms; %d waits told to the debugger",
              opened, openMs, kOpenBoundMs, keyArrived ? "yes" : "NO", closeMs, gaveUp);
    EXPECT_EQ(right, 100);
    EXPECT_EQ(hungAnswer, 0);
    EXPECT_LT(versionMs, kHostCallBoundMs + kMarginMs);
    EXPECT_TRUE(returned);
    EXPECT_EQ(afterwards, kDeviceVersion);
    EXPECT_EQ(opened, 1);
    EXPECT_LT(openMs, kOpenBoundMs + kMarginMs);
    EXPECT_TRUE(registered);
    EXPECT_TRUE(keyArrived);
    EXPECT_LT(closeMs, kHostCallBoundMs + kMarginMs);
    EXPECT_EQ(gaveUp, 2);
}

// A library that overflows its stack twice in the same call, on the same
// thread: the second overflow is contained like the first.
TEST_F(LibraryFaultTest, TwoStackOverflowsInOneCallSiteAreContained) {
    DebuggerOutput debugger;
    OpenWithDisplay();
    uint32_t sequence = 0;
    const DWORD worker = fields->m_workerThreadId;
    int contained = 0;
    for (int round = 0; round < 2; ++round) {
        const int writes = SimCountCalls(3);
        SimRaiseOnNext(3, 1, EXCEPTION_STACK_OVERFLOW);
        uint8_t cells[kCells];
        PatternCells(2, sequence++, cells);
        driver->WriteCells(cells, kCells);
        contained += SimWaitCallsReturned(3, writes + 1, 5000) == 1 &&
                     WaitFor(
                         [&] {
                             return debugger.Count({"ordinal 3", "0xC00000FD"}) > round;
                         },
                         5000);
    }
    const bool sameWorker = fields->m_workerThreadId == worker && WorkerRunning(fields);
    const double shownMs = WriteUntilShown(host, 6, &sequence, kRecoveryTimeoutMs);
    ReportRow("2 faults", "the cell write (3) overflows the stack, twice on the worker",
              "contained %d/2, each told to the debugger; worker still running: %s; served "
              "again after %.0f ms",
              contained, sameWorker ? "yes" : "NO", shownMs);
    EXPECT_EQ(contained, 2);
    EXPECT_TRUE(sameWorker);
    EXPECT_GE(shownMs, 0.0);
}

// A screen reader that ends with the display linked while the library's close
// hangs 20 s ends as fast as without the driver; one that closes and frees the
// driver first still has the link closed exactly once, by Close.
TEST(ProcessExit, AHostEndingWithTheLinkUpIsNotHeldByTheLibrary) {
    // One "what: value" line of the stand-in host's, whatever its line ends.
    auto printedLine = [](const ProgramOutcome& run, const std::string& line) {
        const size_t at = run.printed.find(line);
        return at != std::string::npos && (at + line.size() == run.printed.size() ||
                                           strchr("\r\n", run.printed[at + line.size()]));
    };
    const std::wstring output = TestProgramFolder() + L"stand_in_host.txt";
    const ProgramOutcome linked = RunProgram(L"stand_in_host.exe exit-linked", L"", output, 60000);
    const ProgramOutcome closed =
        RunProgram(L"stand_in_host.exe close-unload-exit", L"", output, 60000);
    ReportRow("2 faults",
              "a host process ends with the link up, the library's close (2) hanging 20 s",
              "ended: %s, %.0f ms from start to end (exit code %lu); after Close and FreeLibrary: "
              "%s",
              linked.ended ? "yes" : "NO", linked.milliseconds,
              static_cast<unsigned long>(linked.exitCode),
              printedLine(closed, "closes: 1") ? "link closed once" : closed.printed.c_str());
    EXPECT_TRUE(linked.ended);
    EXPECT_EQ(linked.exitCode, 0u);
    EXPECT_LT(linked.milliseconds, 10000.0) << "the library's close would take 20 s";
    EXPECT_EQ(closed.exitCode, 0u) << closed.printed;
    EXPECT_TRUE(printedLine(closed, "closes: 1"));
}
