// The device worker against the simulated display: acknowledgements tied to
// their own command, the service tick, buffers released, failures survived.
#include <vector>

#include "TestSupport.h"
#include "WorkerHarness.h"

TEST_F(WorkerTest, RunsAboveNormalPriority) {
    EXPECT_EQ(GetThreadPriority(driver->m_hWorkerThread), THREAD_PRIORITY_ABOVE_NORMAL);
}

TEST_F(WorkerTest, EveryTickServicesTheLibraryEvenWhileWritesKeepItBusy) {
    int before = SimCountCalls(16);
    EXPECT_TRUE(WaitFor([&] { return SimCountCalls(16) >= before + 5; }, 3000));
    OpenOn("COM5");
    SimSetDelay(3, 60); // the host writes faster than the display takes its writes
    before = SimCountCalls(16);
    const unsigned char cells[12] = {};
    for (int i = 0; i < 50; ++i, Sleep(40))
        driver->WriteCells(cells, 12);
    SimSetDelay(3, 0);
    EXPECT_GE(SimCountCalls(16) - before, 20) << "about 40 in 2 s";
}

TEST_F(WorkerTest, SlowOpenIsAwaitedThroughTicks) {
    SimSetDelay(15, 700);
    const LARGE_INTEGER start = Now();
    OpenOn("COM5");
    // Ticks fire every 50 ms meanwhile; none of them may end the wait.
    EXPECT_GE(MillisecondsSince(start), 1600.0); // the slow open and the settle pause
    EXPECT_EQ(driver->m_linkUp, 1);
    EXPECT_EQ(driver->m_cellCount, 12);
    EXPECT_EQ(SimCountCalls(10), 1);
}

TEST_F(WorkerTest, EarlierQueuedCommandsDoNotReleaseALaterWaiter) {
    OpenOn("COM5");
    SimSetDelay(3, 300);
    const unsigned char cells[12] = {1, 2, 3};
    driver->WriteCells(cells, 12);
    driver->WriteCells(cells, 12);
    const LARGE_INTEGER start = Now();
    Send(kCmdClose);
    EXPECT_GE(MillisecondsSince(start), 250.0);
    EXPECT_EQ(SimCountCalls(2), 1); // the close itself has run
    EXPECT_EQ(driver->m_linkUp, 0);
}

TEST_F(WorkerTest, QuitPostedByOtherMeansDoesNotEndTheWorker) {
    PostThreadMessageA(driver->m_workerThreadId, WM_QUIT, 0, 0);
    Drain();
    EXPECT_EQ(WaitForSingleObject(driver->m_hWorkerThread, 200), static_cast<DWORD>(WAIT_TIMEOUT));
    const int before = SimCountCalls(16);
    EXPECT_TRUE(WaitFor([&] { return SimCountCalls(16) > before; }, 2000));
}

TEST_F(WorkerTest, OnlyTheQuitCommandEndsTheWorker) {
    Send(kCmdQuit);
    EXPECT_EQ(WaitForSingleObject(driver->m_hWorkerThread, 5000), WAIT_OBJECT_0);
}

TEST_F(WorkerTest, StatusWritesAndWritesWhileDownAreReleasedWithoutDeviceCalls) {
    std::vector<unsigned char> cells(32 * 1024, 0x2A);
    const size_t before = CommittedPrivateBytes();
    for (int i = 0; i < 2000; ++i) {
        PostCommand(driver.get(), kCmdWriteStatus, cells.data(), 32 * 1024);
        PostCommand(driver.get(), kCmdWrite, cells.data(), 32 * 1024);
        if (i % 100 == 0)
            Drain(); // keep the queue within its bounds
    }
    Drain();
    EXPECT_EQ(SimCountCalls(3), 0);
    EXPECT_LT(CommittedPrivateBytes(), before + 16 * 1024 * 1024); // 128 MB if they leaked
}

TEST_F(WorkerTest, ExceptionWhileOpeningTheLinkIsSurvived) {
    SimThrowOnNext(15, 1);
    OpenOn("COM5");
    EXPECT_EQ(driver->m_linkUp, 0);
    EXPECT_EQ(driver->m_cellCount, 12);
    Send(kCmdSuspend, 0); // resume: re-link
    EXPECT_EQ(driver->m_linkUp, 1);
}

TEST_F(WorkerTest, ExceptionWhileReopeningOrWritingIsSurvived) {
    OpenOn("COM5");
    SimThrowOnNext(3, 1);
    const unsigned char cells[12] = {7};
    driver->WriteCells(cells, 12);
    Drain();
    EXPECT_EQ(driver->m_writeFailures, 1);
    SimThrowOnNext(2, 1);
    Send(kCmdSuspend, 1);
    SimThrowOnNext(15, 1);
    Send(kCmdSuspend, 0);
    EXPECT_EQ(driver->m_linkUp, 0);
    Send(kCmdSuspend, 0);
    EXPECT_EQ(driver->m_linkUp, 1);
}
