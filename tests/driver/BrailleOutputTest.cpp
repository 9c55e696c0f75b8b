// The host's writes: posted without waiting, refused while the link is down,
// counted into re-link requests; the worker's writes and their failure counting.
#include <vector>

#include "TestSupport.h"
#include "WorkerHarness.h"

namespace {
const unsigned char kCells[12] = {0x01, 0x03, 0x09, 0x19, 0x11, 0x0B,
                                  0x1B, 0x13, 0x0A, 0x1A, 0x05, 0x07};
}

TEST_F(WorkerTest, WritesReachTheDeviceOnTheWorkerThreadOnly) {
    OpenOn("COM5");
    const int mark = SimCallCount();
    EXPECT_NE(driver->WriteCells(kCells, 12), 0);
    Drain();
    const std::vector<SimCall> writes = SimCallsSince(mark, 3);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].threadId, driver->m_workerThreadId);
    EXPECT_EQ(writes[0].args[0], 0);
    EXPECT_EQ(writes[0].args[1], 12);
    EXPECT_EQ(memcmp(writes[0].cells, kCells, 12), 0);
    for (const SimCall& call : SimCallsSince(0))
        EXPECT_NE(call.threadId, GetCurrentThreadId()) << "ordinal " << call.ordinal;
}

TEST_F(WorkerTest, CountAbove255ReachesTheDeviceAsItsLowByte) {
    OpenOn("COM5");
    std::vector<unsigned char> cells(300);
    for (size_t i = 0; i < cells.size(); ++i)
        cells[i] = static_cast<unsigned char>(i);
    const int mark = SimCallCount();
    driver->WriteCells(cells.data(), 300);
    Drain();
    const std::vector<SimCall> writes = SimCallsSince(mark, 3);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args[1], 300 & 0xFF);
    EXPECT_EQ(memcmp(writes[0].cells, cells.data(), 300 & 0xFF), 0);
}

TEST_F(WorkerTest, ClearWritesTwelveBlankCellsWhateverTheCellCount) {
    SimSetSize(40, 40);
    OpenOn("COM5");
    ASSERT_EQ(driver->m_cellCount, 40);
    const int mark = SimCallCount();
    EXPECT_NE(driver->ClearDisplay(), 0);
    Drain();
    const std::vector<SimCall> writes = SimCallsSince(mark, 3);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args[1], 12);
    const unsigned char blank[12] = {};
    EXPECT_EQ(memcmp(writes[0].cells, blank, 12), 0);
}

TEST_F(WorkerTest, HostSeesThePostNotTheDevice) {
    OpenOn("COM5");
    SimSetResult(3, 0);
    EXPECT_NE(driver->WriteCells(kCells, 12), 0);
    EXPECT_NE(driver->WriteStatusCells(kCells, 2), 0);
}

TEST_F(WorkerTest, FailedWritesTurnTheLinkStaleAtTheFourthAndRelinkAtTheTwentyFirst) {
    OpenOn("COM5");
    const int32_t failures[21] = {};
    SimQueueResults(3, failures, 21); // the latest cells, written after the re-link, go through
    for (int i = 1; i <= 3; ++i)
        WriteAndDrain(kCells, 12);
    EXPECT_EQ(driver->m_writeFailures, 3);
    EXPECT_EQ(driver->m_linkStale, 0);
    WriteAndDrain(kCells, 12);
    EXPECT_EQ(driver->m_linkStale, 1);
    EXPECT_EQ(driver->m_linkUp, 1);
    for (int i = 5; i <= 20; ++i)
        WriteAndDrain(kCells, 12);
    EXPECT_EQ(SimCountCalls(2), 0);
    EXPECT_EQ(SimCountCalls(15), 1);
    const int mark = SimCallCount();
    driver->WriteCells(kCells, 12);
    Drain();
    const std::vector<SimCall> relink = SimCallsSince(mark);
    ASSERT_GE(relink.size(), 3u);
    EXPECT_EQ(relink[0].ordinal, 3);
    EXPECT_EQ(relink[1].ordinal, 2);
    EXPECT_EQ(relink[2].ordinal, 15);
    EXPECT_STREQ(relink[2].portName, L"COM5");
    EXPECT_EQ(relink.back().ordinal, 3) << "the latest cells, once the link is back";
    EXPECT_EQ(memcmp(relink.back().cells, kCells, 12), 0);
    EXPECT_EQ(driver->m_linkUp, 1);
    EXPECT_EQ(driver->m_linkStale, 0);
    EXPECT_EQ(driver->m_writeFailures, 0);
}

TEST_F(WorkerTest, ASuccessfulWriteEndsStaleness) {
    OpenOn("COM5");
    const int32_t failures[5] = {0, 0, 0, 0, 0};
    SimQueueResults(3, failures, 5);
    for (int i = 0; i < 5; ++i)
        WriteAndDrain(kCells, 12);
    ASSERT_EQ(driver->m_linkStale, 1);
    WriteAndDrain(kCells, 12);
    EXPECT_EQ(driver->m_linkStale, 0);
    EXPECT_EQ(driver->m_writeFailures, 0);
}

TEST_F(WorkerTest, RefusedCallsWhileDownPostRelinkRequestsWithBackoff) {
    SimSetPresent(0);
    OpenOn("COM5"); // the display is away: the link stays down
    ASSERT_EQ(driver->m_linkUp, 0);
    const int opensBefore = SimCountCalls(15);
    auto requests = [&] {
        Drain();
        return SimCountCalls(15) - opensBefore;
    };
    for (int i = 1; i <= 20; ++i)
        EXPECT_EQ(i % 2 ? driver->WriteCells(kCells, 12) : driver->ClearDisplay(), 0);
    EXPECT_EQ(requests(), 0);
    EXPECT_EQ(driver->m_skippedWrites, 20);
    driver->WriteCells(kCells, 12);
    EXPECT_EQ(requests(), 1);
    EXPECT_EQ(driver->m_skippedWrites, 0);
    for (int i = 2; i <= 6; ++i) {
        for (int j = 0; j < 21; ++j)
            driver->WriteCells(kCells, 12);
        EXPECT_EQ(requests(), i);
    }
    EXPECT_EQ(driver->m_skipLimit, 100);
    EXPECT_EQ(driver->m_relinkRequests, 0);
    for (int i = 0; i < 100; ++i)
        driver->WriteCells(kCells, 12);
    EXPECT_EQ(requests(), 6);
    driver->WriteCells(kCells, 12);
    EXPECT_EQ(requests(), 7);
    // Requests made while one waits in the queue add nothing to it.
    SimSetDelay(15, 300);
    const int opens = SimCountCalls(15);
    for (int i = 0; i < 101; ++i)
        driver->WriteCells(kCells, 12);
    ASSERT_TRUE(WaitFor([&] { return SimCountCalls(15) > opens; }, 5000)); // in the slow open
    for (int i = 0; i < 3 * 101; ++i)
        driver->WriteCells(kCells, 12);
    EXPECT_EQ(requests(), 9);
    EXPECT_EQ(SimCountCalls(3), 0);
}

TEST_F(WorkerTest, ACallThatFindsTheLinkUpRestoresTheNormalLimit) {
    SimSetPresent(0);
    OpenOn("COM5");
    for (int i = 0; i < 6 * 21; ++i)
        driver->WriteCells(kCells, 12);
    Drain();
    ASSERT_EQ(driver->m_skipLimit, 100);
    SimSetPresent(1);
    for (int i = 0; i < 101; ++i)
        driver->WriteCells(kCells, 12);
    ASSERT_TRUE(WaitFor([&] { return driver->m_linkUp == 1; }, 5000));
    driver->m_skippedWrites = 7;
    EXPECT_NE(driver->WriteCells(kCells, 12), 0);
    EXPECT_EQ(driver->m_skipLimit, 20);
    EXPECT_EQ(driver->m_relinkRequests, 0);
    EXPECT_EQ(driver->m_skippedWrites, 0);
}

TEST_F(WorkerTest, SuspendedOrEmptyWritesChangeNothing) {
    driver->m_suspended = 1;
    EXPECT_EQ(driver->WriteCells(kCells, 12), 0);
    EXPECT_EQ(driver->WriteStatusCells(kCells, 2), 0);
    EXPECT_EQ(driver->ClearDisplay(), 0);
    driver->m_suspended = 0;
    EXPECT_EQ(driver->WriteCells(nullptr, 12), 0);
    EXPECT_EQ(driver->WriteCells(kCells, 0), 0);
    EXPECT_EQ(driver->WriteCells(kCells, -1), 0);
    EXPECT_EQ(driver->WriteStatusCells(nullptr, 2), 0);
    EXPECT_EQ(driver->WriteStatusCells(kCells, -2), 0);
    EXPECT_EQ(driver->m_skippedWrites, 0);
    EXPECT_EQ(driver->m_relinkRequests, 0);
    EXPECT_EQ(driver->m_skipLimit, 20);
}
