// Cell writes queued behind one another: only the newest reaches the display,
// every skipped buffer and waiter is released, and no other command is passed.
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

// A poster that waits for its write on a thread of its own, so that a waiter
// that is never released fails the test instead of hanging it.
struct WaitingPoster {
    CBrailleSampleDriver* driver;
    Cells cells;
    HANDLE returned;
};

DWORD WINAPI PostAndWait(void* argument) {
    auto* poster = static_cast<WaitingPoster*>(argument);
    PostCommand(poster->driver, kCmdWrite, poster->cells.bytes, 12, true);
    SetEvent(poster->returned);
    return 0;
}

} // namespace

class WriteCoalescingTest : public WorkerTest {
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
    uint32_t PostWithTicket(int command, unsigned char tag) {
        const uint32_t ticket = ++driver->m_lastTicket;
        char* buffer = nullptr;
        int32_t length = 0;
        if (command == kCmdWrite) {
            buffer = static_cast<char*>(malloc(13));
            memcpy(buffer, Tagged(tag).bytes, 12);
            length = 12;
        }
        EXPECT_TRUE(PostThreadMessageA(driver->m_workerThreadId, WM_WORKER_FIRST + command,
                                       reinterpret_cast<WPARAM>(buffer),
                                       MakeCommandLParam(length, ticket)));
        return ticket;
    }

    bool Acknowledged(uint32_t ticket) const {
        return driver->m_ackedTickets[ticket % qorn::kAckRingSize] == ticket;
    }
};

TEST_F(WriteCoalescingTest, OnlyTheNewestOfTheQueuedWritesReachesTheDisplay) {
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

TEST_F(WriteCoalescingTest, ClearsAndWritesReplaceOneAnother) {
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

TEST_F(WriteCoalescingTest, AWriteWithNothingBehindItIsSentAtOnce) {
    const int mark = SimCallCount();
    Write(5);
    Drain();
    Write(6);
    Drain();
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{5, 6}));
}

TEST_F(WriteCoalescingTest, SkippedWritesAreAcknowledgedForTheirWaiters) {
    const int mark = SimCallCount();
    StartSlowWrite(1);
    const uint32_t skipped = PostWithTicket(kCmdWrite, 2);
    Write(3);
    Drain();
    EXPECT_TRUE(Acknowledged(skipped));
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{1, 3}));
}

TEST_F(WriteCoalescingTest, AWaitingPosterOfASkippedWriteIsReleased) {
    StartSlowWrite(1, 2000);
    const int mark = SimCallCount();
    WaitingPoster poster{driver.get(), Tagged(2), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, PostAndWait, &poster, 0, nullptr);
    Sleep(200); // its write is queued by now; the slow write goes on for long after
    Write(3);
    EXPECT_EQ(WaitForSingleObject(poster.returned, 10000), WAIT_OBJECT_0);
    Drain();
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{3})) << "the waited write is skipped";
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(poster.returned);
}

TEST_F(WriteCoalescingTest, SkippedBuffersAreReleased) {
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
        ASSERT_EQ(round(), 2u) << "the writes were not skipped";
    // 20 rounds of 99 skipped 32 KB buffers: about 64 MB if they leaked.
    EXPECT_LT(CommittedPrivateBytes(), before + 16 * 1024 * 1024);
}

TEST_F(WriteCoalescingTest, SkippedWritesAreNotCountedAsFailures) {
    SimSetResult(3, 0);
    StartSlowWrite(1);
    for (unsigned char tag = 2; tag <= 8; ++tag)
        Write(tag);
    Drain();
    EXPECT_EQ(SimCountCalls(3), 2);
    EXPECT_EQ(driver->m_writeFailures, 2);
    EXPECT_EQ(driver->m_linkStale, 0);
}

TEST_F(WriteCoalescingTest, StatusWritesAreNeitherSentNorSkippedOver) {
    const int mark = SimCallCount();
    StartSlowWrite(1);
    Write(2);
    const Cells status = Tagged(0x55);
    EXPECT_NE(driver->WriteStatusCells(status.bytes, 12), 0);
    Write(3);
    Write(4);
    Drain();
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{1, 2, 4}));
}

TEST_F(WriteCoalescingTest, AnyOtherCommandBetweenWritesKeepsTheOlderWrite) {
    const int commands[] = {kCmdNop, kCmdService, kCmdWriteStatus, kCmdSuspend};
    for (const int command : commands) {
        const int mark = SimCallCount();
        StartSlowWrite(1);
        Write(2);
        const uint32_t ticket = PostWithTicket(command, 0);
        Write(3);
        Drain();
        EXPECT_EQ(WrittenTags(mark), (std::vector<int>{1, 2, 3})) << "command " << command;
        EXPECT_TRUE(Acknowledged(ticket)) << "command " << command;
    }
}

TEST_F(WriteCoalescingTest, AWriteBeforeACloseReachesTheDisplayBeforeTheLinkCloses) {
    const int mark = SimCallCount();
    StartSlowWrite(1);
    Write(2);
    PostCommand(driver.get(), kCmdClose, nullptr, 0, false);
    Write(3);
    Drain();
    std::vector<int> ordinals;
    for (const SimCall& call : SimCallsSince(mark))
        ordinals.push_back(call.ordinal);
    EXPECT_EQ(ordinals, (std::vector<int>{3, 3, 2})) << "the write after the close finds it down";
    EXPECT_EQ(WrittenTags(mark), (std::vector<int>{1, 2}));
}
