// Bringing the link up: the port name as the library gets it, the ':' retry,
// the key window, the size polls; suspend and resume on the worker.
#include <vector>

#include "LinkSupervision.h"
#include "TestSupport.h"
#include "WorkerHarness.h"

TEST(PortNameBeforeColon, OnlyATextBeforeTheFirstColonCounts) {
    wchar_t prefix[31];
    EXPECT_EQ(PortNameBeforeColon(L"COM7:9600", prefix, 31), 4);
    EXPECT_STREQ(prefix, L"COM7");
    EXPECT_EQ(PortNameBeforeColon(L"COM7:a:b", prefix, 31), 4);
    EXPECT_EQ(PortNameBeforeColon(L":COM7", prefix, 31), 0);
    EXPECT_EQ(PortNameBeforeColon(L"COM7", prefix, 31), 0);
    EXPECT_EQ(PortNameBeforeColon(L"", prefix, 31), 0);
}

TEST_F(WorkerTest, LinkUpOpensRegistersPausesThenReadsTheSize) {
    session->keyWindow = reinterpret_cast<HWND>(0x1234);
    const LARGE_INTEGER start = Now();
    OpenOn("COM5");
    EXPECT_GE(MillisecondsSince(start), 950.0);
    const std::vector<SimCall> calls = SimCallsSince(0);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].ordinal, 15);
    EXPECT_STREQ(calls[0].portName, L"COM5");
    EXPECT_EQ(calls[0].args[0], 0);
    EXPECT_EQ(calls[1].ordinal, 14);
    EXPECT_EQ(calls[1].args[0], 1025);
    EXPECT_EQ(calls[1].window, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(calls[1].args[1], 1);
    EXPECT_EQ(calls[2].ordinal, 10);
    for (const SimCall& call : calls)
        EXPECT_EQ(call.threadId, driver->m_workerThreadId);
    session->keyWindow = nullptr;
}

TEST_F(WorkerTest, NegativeOpenIsRetriedWithTheTextBeforeTheColon) {
    const int32_t results[] = {-1, 1};
    SimQueueResults(15, results, 2);
    OpenOn("com7:9600");
    const std::vector<SimCall> opens = SimCallsSince(0, 15);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_STREQ(opens[0].portName, L"com7:9600");
    EXPECT_STREQ(opens[1].portName, L"com7");
    EXPECT_EQ(driver->m_linkUp, 1);
}

TEST_F(WorkerTest, NoRetryForAZeroResultALeadingColonOrNoColon) {
    const int32_t zero[] = {0};
    SimQueueResults(15, zero, 1);
    OpenOn("COM7:9600");
    SimSetResult(15, -1);
    OpenOn(":COM7");
    OpenOn("COM7");
    const std::vector<SimCall> opens = SimCallsSince(0, 15);
    ASSERT_EQ(opens.size(), 3u);
    EXPECT_STREQ(opens[1].portName, L":COM7");
    EXPECT_STREQ(opens[2].portName, L"COM7");
    EXPECT_EQ(driver->m_linkUp, 0);
}

TEST_F(WorkerTest, AShorterPortNameAfterALongerOneReachesTheLibraryExactly) {
    SimSetResult(15, 0);
    OpenOn("COM123456789");
    OpenOn("COM5");
    const std::vector<SimCall> opens = SimCallsSince(0, 15);
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_STREQ(opens[1].portName, L"COM5");
    EXPECT_STREQ(driver->m_portNameW, L"COM5");
}

TEST_F(WorkerTest, ANameTooLongForTheLibraryLeavesTheLinkDown) {
    OpenOn("COM0123456789012345678901234567"); // 31 characters
    EXPECT_EQ(SimCountCalls(15), 0);
    EXPECT_EQ(driver->m_linkUp, 0);
    EXPECT_EQ(driver->m_cellCount, 12);
}

TEST_F(WorkerTest, TheSmallerSizeByteIsTheCellCount) {
    SimSetSize(40, 12);
    OpenOn("COM5");
    EXPECT_EQ(driver->m_cellCount, 12);
    SimSetSize(0, 12);
    OpenOn("COM5");
    EXPECT_EQ(driver->m_cellCount, 0);
}

TEST_F(WorkerTest, SizePollsRetryUntilTheDisplayIsReady) {
    const int32_t notReady[] = {-1, -1, -1};
    SimQueueResults(10, notReady, 3);
    SimSetSize(12, 20);
    OpenOn("COM5");
    EXPECT_EQ(SimCountCalls(10), 4);
    EXPECT_EQ(driver->m_cellCount, 12);
}

TEST_F(WorkerTest, WhenEverySizePollFailsTheOpenCommandsTwelveCellsStay) {
    SimSetResult(10, -1);
    const LARGE_INTEGER start = Now();
    OpenOn("COM5");
    EXPECT_EQ(SimCountCalls(10), 10);
    EXPECT_GE(MillisecondsSince(start), 1000.0 + 10 * 50 - 60);
    EXPECT_EQ(driver->m_cellCount, 12);
    EXPECT_EQ(driver->m_linkUp, 1);
}

TEST_F(WorkerTest, SuspendClosesTheLinkAndResumeBringsItBack) {
    OpenOn("COM5");
    Send(kCmdSuspend, 1);
    EXPECT_EQ(SimCountCalls(2), 1);
    EXPECT_EQ(driver->m_linkUp, 0);
    Send(kCmdSuspend, 0);
    EXPECT_EQ(SimCountCalls(15), 2);
    EXPECT_EQ(driver->m_linkUp, 1);
}

TEST_F(WorkerTest, ResumeRelinksOnlyAStaleLink) {
    OpenOn("COM5");
    Send(kCmdSuspend, 0);
    EXPECT_EQ(SimCountCalls(15), 1); // up and fresh: nothing to do
    SimSetResult(3, 0);
    const unsigned char cells[12] = {};
    for (int i = 0; i < 4; ++i)
        WriteAndDrain(cells, 12);
    ASSERT_EQ(driver->m_linkStale, 1);
    Send(kCmdSuspend, 0);
    EXPECT_EQ(SimCountCalls(2), 1);
    EXPECT_EQ(SimCountCalls(15), 2);
    EXPECT_EQ(driver->m_linkStale, 0);
}

TEST_F(WorkerTest, CloseCommandClosesWhetherOrNotTheLinkIsUp) {
    Send(kCmdClose);
    EXPECT_EQ(SimCountCalls(2), 1);
    driver->m_alive = 0;
    Send(kCmdClose);
    OpenOn("COM5");
    EXPECT_EQ(SimCountCalls(2), 1);
    EXPECT_EQ(SimCountCalls(15), 0);
    EXPECT_EQ(driver->m_cellCount, 12);
    driver->m_alive = 1;
}
