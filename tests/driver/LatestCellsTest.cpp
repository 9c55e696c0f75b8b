// The host's latest cells in one place: however many writes come while the
// display is busy, at most one write waits in the worker's queue and it writes
// the latest cells; no other command is passed; every kind of link-up shows
// the latest cells, and the worker retries a lost link while the host is silent.
#include <cstring>
#include <cwchar>
#include <vector>

#include "TestSupport.h"
#include "WorkerHarness.h"

namespace {

constexpr DWORD kSlowWriteMs = 300; // long enough to queue anything behind it

struct Cells {
    unsigned char bytes[12];
};

Cells Tagged(unsigned char tag) {
    Cells cells;
    for (unsigned char& byte : cells.bytes)
        byte = tag;
    return cells;
}

// First cell of every device write logged since mark: which writes were sent.
std::vector<int> WrittenTags(int mark) {
    std::vector<int> tags;
    for (const SimCall& call : SimCallsSince(mark, 3))
        tags.push_back(call.cells[0]);
    return tags;
}

} // namespace

class LatestCellsTest : public WorkerTest {
protected:
    void SetUp() override {
        WorkerTest::SetUp();
        OpenOn("COM5");
        ASSERT_EQ(driver->m_linkUp, 1);
    }

    void Write(unsigned char tag) {
        const Cells cells = Tagged(tag);
        ASSERT_NE(driver->WriteCells(cells.bytes, 12), 0);
    }

    // Returns once the worker is inside a slow device write of this tag, so
    // that whatever is posted next queues up behind it.
    void StartSlowWrite(unsigned char tag, DWORD slowMs = kSlowWriteMs) {
        const int started = SimCountCalls(3);
        SimSetDelay(3, slowMs);
        Write(tag);
        ASSERT_TRUE(WaitFor([&] { return SimCountCalls(3) > started; }, 5000));
        SimSetDelay(3, 0); // the write under way keeps its delay
    }

    // A command as a waiting poster sends it, with a ticket of its own.
    TicketRef PostWithTicket(int command) {
        TicketRef ticket = CommandTicket::Create();
        EXPECT_TRUE(ticket && QueueCommand(*session, command, nullptr, 0, ticket));
        return ticket;
    }
};

TEST_F(LatestCellsTest, OnlyTheLatestOfTheWritesMadeWhileTheDisplayIsBusyReachesIt) {
    const int mark = SimCallCount();
    StartSlowWrite(1);
    for (unsigned char tag = 2; tag <= 9; ++tag)
        Write(tag);
    Drain();
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{1, 9}));
    unsigned char shown[12] = {};
    ASSERT_EQ(SimGetCells(shown, 12), 12);
    EXPECT_EQ(memcmp(shown, Tagged(9).bytes, 12), 0);
}

TEST_F(LatestCellsTest, ClearsAndWritesReplaceOneAnother) {
    int mark = SimCallCount();
    StartSlowWrite(1);
    Write(2);
    EXPECT_NE(driver->ClearDisplay(), 0);
    Drain();
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{1, 0})) << "the clear is newest";

    mark = SimCallCount();
    StartSlowWrite(3);
    EXPECT_NE(driver->ClearDisplay(), 0);
    Write(4);
    Drain();
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{3, 4})) << "the write is newest";
}

TEST_F(LatestCellsTest, AWriteWithNothingBehindItIsSentAtOnce) {
    const int mark = SimCallCount();
    Write(5);
    Drain();
    Write(6);
    Drain();
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{5, 6}));
}

TEST_F(LatestCellsTest, BurstsOfLargeWritesLeaveNoMemoryBehind) {
    constexpr int32_t kLarge = 32 * 1024 + 12; // its low byte is 12 for the device
    std::vector<unsigned char> cells(kLarge, 7);
    auto round = [&] {
        const int mark = SimCallCount();
        StartSlowWrite(1, 100);
        for (int i = 0; i < 100; ++i)
            driver->WriteCells(cells.data(), kLarge);
        Drain();
        return WrittenTags(mark).size();
    };
    round(); // the heap reaches its working size
    const size_t before = CommittedPrivateBytes();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(round(), 2u) << "more than the latest write reached the display";
    // 20 rounds of 99 writes of 32 KB: about 64 MB if each kept a copy.
    EXPECT_LT(CommittedPrivateBytes(), before + 16 * 1024 * 1024);
}

TEST_F(LatestCellsTest, WritesThatNeverReachTheDeviceAreNotCountedAsFailures) {
    SimSetResult(3, 0);
    StartSlowWrite(1);
    for (unsigned char tag = 2; tag <= 8; ++tag)
        Write(tag);
    Drain();
    EXPECT_EQ(SimCountCalls(3), 2);
    EXPECT_EQ(driver->m_writeFailures, 2);
    EXPECT_EQ(driver->m_linkStale, 0);
}

TEST_F(LatestCellsTest, OtherCommandsKeepTheirPlaceBehindTheOneQueuedWrite) {
    const int commands[] = {kCmdNop, kCmdRegisterKeyWindow, kCmdWriteStatus, kCmdSuspend};
    for (const int command : commands) {
        const int mark = SimCallCount();
        StartSlowWrite(1);
        Write(2); // queues the write
        const TicketRef ticket = PostWithTicket(command);
        Write(3); // finds it queued: the queued write will show these
        Drain();
        EXPECT_EQ(WrittenTags(mark), (std::vector<int>{1, 3})) << "command " << command;
        EXPECT_TRUE(ticket && ticket->Handled()) << "command " << command;
    }
}

TEST_F(LatestCellsTest, AWriteBeforeACloseOrSuspendReachesTheDisplayBeforeTheLinkCloses) {
    for (const int command : {kCmdClose, kCmdSuspend}) {
        if (driver->m_linkUp == 0)
            OpenOn("COM5");
        const int mark = SimCallCount();
        StartSlowWrite(1);
        Write(2);
        PostCommand(driver.get(), command, nullptr, 1);
        Write(3); // the link is still up: the write already queued shows these
        Drain();
        std::vector<int> ordinals;
        for (const SimCall& call : SimCallsSince(mark))
            ordinals.push_back(call.ordinal);
        EXPECT_EQ(ordinals, (std::vector<int>{3, 3, 2})) << "command " << command;
        EXPECT_EQ(WrittenTags(mark), (std::vector<int>{1, 3})) << "command " << command;
        const int afterClose = SimCallCount();
        EXPECT_EQ(driver->WriteCells(Tagged(4).bytes, 12), 0) << "the link is down now";
        Drain();
        EXPECT_EQ(SimCallsSince(afterClose, 3).size(), 0u);
    }
}

// A re-link after failed writes: BrailleOutputTest; the silent retry: below.
TEST_F(LatestCellsTest, EveryLinkUpShowsTheLatestCellsButAnOpenBeforeAnyWriteShowsNothing) {
    EXPECT_TRUE(SimCallsSince(0, 3).empty()) << "Open before any write";

    // A resume, with a clear made while suspended: 12 blank cells.
    driver->SetSuspended(1);
    EXPECT_EQ(driver->ClearDisplay(), 0);
    int mark = SimCallCount();
    driver->SetSuspended(0);
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{0}));

    // A re-link request of the refused-call rule, with the latest refused write.
    SimSetPresent(0);
    Send(kCmdSuspend, 1);
    for (unsigned char tag = 30; tag < 50; ++tag)
        EXPECT_EQ(driver->WriteCells(Tagged(tag).bytes, 12), 0);
    SimSetPresent(1);
    mark = SimCallCount();
    EXPECT_EQ(driver->WriteCells(Tagged(50).bytes, 12), 0); // the 21st: a re-link request
    Drain();
    EXPECT_EQ(driver->m_linkUp, 1);
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{50}));

    // A write made during the link's settle pause queues a write command; the
    // link-up shows its cells and the command finds nothing newer to send.
    Send(kCmdSuspend, 1);
    mark = SimCallCount();
    PostCommand(driver.get(), kCmdSuspend, nullptr, 0);
    ASSERT_TRUE(WaitFor([&] { return driver->m_linkUp == 1; }, 5000));
    EXPECT_NE(driver->WriteCells(Tagged(60).bytes, 12), 0);
    Drain();
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{60}));
}

namespace {
struct BurstWriter {
    CBrailleSampleDriver* driver;
    unsigned char tag;
    HANDLE start;
};

DWORD WINAPI WriteBurst(void* argument) {
    auto* writer = static_cast<BurstWriter*>(argument);
    WaitForSingleObject(writer->start, INFINITE);
    for (int i = 0; i < 500; ++i) {
        Cells cells = Tagged(writer->tag);
        cells.bytes[1] = static_cast<unsigned char>(i);
        writer->driver->WriteCells(cells.bytes, 12);
    }
    return 0;
}
} // namespace

TEST_F(LatestCellsTest, FourThreadsBurstingQueueOneWriteThatShowsTheLatestBeforeTheSuspend) {
    const int mark = SimCallCount();
    StartSlowWrite(1, 1000);
    const HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BurstWriter writers[4];
    HANDLE threads[4];
    for (int i = 0; i < 4; ++i) {
        writers[i] = {driver.get(), static_cast<unsigned char>(10 + i), start};
        threads[i] = CreateThread(nullptr, 0, WriteBurst, &writers[i], 0, nullptr);
    }
    SetEvent(start);
    ASSERT_EQ(WaitForMultipleObjects(4, threads, TRUE, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(SimCallsSince(mark, 3).size(), 1u) << "the slow write is still under way";
    std::vector<uint8_t> latest;
    uint64_t version = 0;
    ASSERT_TRUE(driver->m_latestCells.CopyOut(&latest, &version));
    EXPECT_EQ(version, 2001u) << "the slow write's cells and 2000 more";
    Send(kCmdSuspend, 1);

    std::vector<int> ordinals;
    for (const SimCall& call : SimCallsSince(mark))
        ordinals.push_back(call.ordinal);
    EXPECT_EQ(ordinals, (std::vector<int>{3, 3, 2})) << "2000 writes, one queued write";
    const std::vector<SimCall> writes = SimCallsSince(mark, 3);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(memcmp(writes[1].cells, latest.data(), 12), 0);
    EXPECT_EQ(latest[1], static_cast<unsigned char>(499)) << "the last write of one of the threads";
    for (HANDLE thread : threads)
        CloseHandle(thread);
    CloseHandle(start);
}

namespace {
// A second driver with a worker of its own, beside the fixture's, so that
// several silent hosts can be watched at once.
class ExtraWorker {
public:
    ExtraWorker() : session(StartSession(&driver)) {
        started = session && AwaitWorkerReady(*session, 5000);
    }
    ~ExtraWorker() {
        if (session)
            StopSession(*session, Deadline(5000));
    }
    void Open(const char* port) {
        QueueCommandWithin(*session, kCmdOpen, port, static_cast<int32_t>(strlen(port)), 5000,
                           nullptr);
    }
    CBrailleSampleDriver driver;
    SessionRef session;
    bool started = false;
};

std::vector<SimCall> OpensOf(const wchar_t* port, int mark) {
    std::vector<SimCall> opens;
    for (const SimCall& call : SimCallsSince(mark, 15))
        if (wcscmp(call.portName, port) == 0)
            opens.push_back(call);
    return opens;
}
} // namespace

// Four hosts whose displays are away at Open and then switched on: one writes
// every 0.5 s (too seldom for a re-link request), one is suspended, one has no
// port, one is silent after a single write.
TEST_F(LatestCellsTest, TheWorkerRetriesALostLinkOnlyAfterFiveSecondsOfSilence) {
    ExtraWorker active, suspended, noPort, silent;
    ASSERT_TRUE(active.started && suspended.started && noPort.started && silent.started);
    SimSetPresent(0);
    active.Open("COM21");
    suspended.Open("COM22");
    noPort.Open("");
    silent.Open("COM24");
    const int mark = SimCallCount();
    suspended.driver.SetSuspended(1);
    silent.driver.WriteCells(Tagged(24).bytes, 12);
    const LARGE_INTEGER lastWrite = Now();
    SimSetPresent(1);
    double retriedAfterMs = -1;
    int activeWrites = 0;
    while (MillisecondsSince(lastWrite) < 8000) {
        EXPECT_EQ(active.driver.WriteCells(Tagged(21).bytes, 12), 0);
        ++activeWrites;
        noPort.driver.WriteCells(Tagged(23).bytes, 12);
        if (retriedAfterMs < 0 && !OpensOf(L"COM24", mark).empty())
            retriedAfterMs = MillisecondsSince(lastWrite);
        Sleep(500);
    }
    EXPECT_GE(retriedAfterMs, 5000.0 - 100);
    EXPECT_LT(retriedAfterMs, 5000.0 + 1500);
    EXPECT_EQ(OpensOf(L"COM24", mark).size(), 1u);
    EXPECT_EQ(silent.driver.m_linkUp, 1);
    unsigned char shown[12] = {};
    SimGetCells(shown, 12);
    EXPECT_EQ(memcmp(shown, Tagged(24).bytes, 12), 0) << "the silent host's latest cells";
    EXPECT_TRUE(OpensOf(L"COM21", mark).empty()) << "never while the host is active";
    EXPECT_EQ(active.driver.m_skippedWrites, activeWrites) << "the refused-call count as ever";
    EXPECT_TRUE(OpensOf(L"COM22", mark).empty()) << "never while suspended";
    EXPECT_EQ(SimCallsSince(mark, 15).size(), 1u) << "never without a port";
}
