// Open, Close and SetSuspended through the real library: the port text, the
// session's threads, event and window, and what a failed Open leaves.
#include "DriverFixture.h"

#include <string>

namespace {

std::wstring LastOpenedPort() {
    const std::vector<SimCall> opens = SimCallsSince(0, 15);
    return opens.empty() ? L"(none)" : std::wstring(opens.back().portName);
}

} // namespace

TEST_F(DriverTest, PortTextIsUpperCasedAndOnlyAutoOrEmptyRunDiscovery) {
    SimSetPresent(0);
    struct Case {
        const char* port;
        bool discovers;
        const wchar_t* reaching; // the library's port for a text that does not discover
    };
    const Case cases[] = {
        {"com5", false, L"COM5"},   {"AUTO1", false, L"AUTO1"}, {"aut", false, L"AUT"},
        {" auto", false, L" AUTO"}, {"auto", true, nullptr},    {"Auto", true, nullptr},
        {"AUTO", true, nullptr},    {"", true, nullptr},        {nullptr, true, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port != nullptr ? c.port : "(null)");
        fields->m_discoveryThreadId = 0;
        ASSERT_EQ(driver->Open(c.port, &host, "", ""), 1);
        EXPECT_EQ(fields->m_discoveryThreadId != 0, c.discovers);
        EXPECT_EQ(fields->m_hDiscoveryThread, nullptr);
        if (c.reaching != nullptr) {
            EXPECT_EQ(LastOpenedPort(), c.reaching);
        }
        driver->Close();
    }
}

TEST_F(DriverTest, OpenWithoutADisplaySucceedsWithTwelveCells) {
    OpenWithoutDisplay();
    EXPECT_EQ(fields->m_opened, 1u);
    EXPECT_EQ(driver->GetCellCount(), 12);
    EXPECT_NE(fields->m_hWorkerThread, nullptr);
    EXPECT_NE(fields->m_hAckEvent, nullptr);
    ASSERT_NE(fields->m_hNotifyWindow, nullptr);
    // The hidden window exactly as the library expects it.
    HWND window = fields->m_hNotifyWindow;
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    EXPECT_STREQ(className, "jQornDriver");
    EXPECT_EQ(GetWindowLongPtrA(window, GWL_STYLE) & (WS_DISABLED | WS_VISIBLE | WS_CHILD),
              WS_DISABLED);
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetPropA(window, "AfxOldWndProc423"), nullptr);
    EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
    // Registered with the library by the worker, before Open returned.
    const std::vector<SimCall> registrations = SimCallsSince(0, 14);
    ASSERT_FALSE(registrations.empty());
    EXPECT_EQ(registrations.back().window, window);
    EXPECT_EQ(registrations.back().args[0], 1025);
    EXPECT_EQ(registrations.back().args[1], 1);
    EXPECT_EQ(registrations.back().threadId, fields->m_workerThreadId);
}

TEST_F(DriverTest, HostTextsAreKeptToTheirFirst255Characters) {
    const std::string longText(300, 'a');
    std::string unterminatedAtLimit(255, 'b');
    ASSERT_EQ(driver->Open("COM5", &host, longText.c_str(), unterminatedAtLimit.c_str()), 1);
    EXPECT_EQ(std::string(fields->m_hostText1), std::string(255, 'a'));
    EXPECT_EQ(fields->m_hostText1[255], '\0');
    EXPECT_EQ(std::string(fields->m_hostText2), unterminatedAtLimit);
    char back[400];
    EXPECT_EQ(driver->GetHostText1(back, 400), 255);
}

TEST_F(DriverTest, ClosingFreesTheSessionAndAllowsANewOpen) {
    driver->Close(); // before any Open: nothing to stop
    EXPECT_EQ(SimCallCount(), 0);

    OpenWithoutDisplay();
    const HANDLE workerThread = DuplicateThreadHandle(fields->m_hWorkerThread);
    const HWND window = fields->m_hNotifyWindow;
    driver->Close();
    EXPECT_EQ(WaitForSingleObject(workerThread, 0), WAIT_OBJECT_0);
    CloseHandle(workerThread);
    EXPECT_EQ(fields->m_hWorkerThread, nullptr);
    EXPECT_EQ(fields->m_hAckEvent, nullptr);
    EXPECT_EQ(fields->m_hNotifyWindow, nullptr);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(fields->m_opened, 1u); // Close leaves it set
    driver->Close();                 // a second Close changes nothing
    EXPECT_EQ(fields->m_hWorkerThread, nullptr);

    // The class is still registered from the first Open; the second Open goes on.
    ASSERT_EQ(driver->Open("COM7", &host, "", ""), 1);
    EXPECT_NE(fields->m_hNotifyWindow, nullptr);
    EXPECT_EQ(LastOpenedPort(), L"COM7");
}

TEST_F(DriverTest, OpenOnAnOpenDriverEndsTheEarlierSessionFirst) {
    OpenWithoutDisplay();
    const HANDLE firstWorker = DuplicateThreadHandle(fields->m_hWorkerThread);
    const HWND firstWindow = fields->m_hNotifyWindow;
    const DWORD handlesBefore = [] {
        DWORD count = 0;
        GetProcessHandleCount(GetCurrentProcess(), &count);
        return count;
    }();
    ASSERT_EQ(driver->Open("COM6", &host, "", ""), 1);
    EXPECT_EQ(WaitForSingleObject(firstWorker, 0), WAIT_OBJECT_0);
    CloseHandle(firstWorker);
    EXPECT_FALSE(IsWindow(firstWindow));
    DWORD handlesAfter = 0;
    GetProcessHandleCount(GetCurrentProcess(), &handlesAfter);
    EXPECT_LE(handlesAfter, handlesBefore + 1); // the duplicate we closed aside
}

TEST_F(DriverTest, ADisplayReportingNoCellsFailsOpenAndReleasesEverything) {
    SimSetSize(0, 12);
    ASSERT_EQ(driver->Open("COM5", &host, "kept?", ""), 0);
    EXPECT_EQ(fields->m_opened, 0u);
    EXPECT_EQ(fields->m_pHostCallback, nullptr);
    EXPECT_EQ(fields->m_hostText1[0], '\0');
    EXPECT_EQ(fields->m_hWorkerThread, nullptr);
    EXPECT_EQ(fields->m_hAckEvent, nullptr);
    EXPECT_EQ(fields->m_hNotifyWindow, nullptr);
    EXPECT_EQ(fields->m_cellCount, 0);
    EXPECT_EQ(SimIsLinkOpen(), 0); // the stop sequence closed it
}

// Open stops waiting after 5 s; the link comes up on the worker later, keeps
// the 12 cells Open reported although the display says 0, and shows the cells
// the host wrote meanwhile.
TEST_F(DriverTest, AnOpenThatOutlastsOpensWaitComesUpLaterWithTheLatestCells) {
    SimSetDelay(15, 6500);
    SimSetSize(0, 12);
    const LARGE_INTEGER start = Now();
    ASSERT_EQ(driver->Open("COM5", &host, "", ""), 1);
    const double openMs = MillisecondsSince(start);
    EXPECT_GE(openMs, 4900.0);
    EXPECT_LT(openMs, 6400.0);
    EXPECT_EQ(fields->m_linkUp, 0);
    EXPECT_EQ(driver->GetCellCount(), 12);
    const unsigned char cells[12] = {0x0F, 0x1E, 0x2D, 0x3C};
    EXPECT_EQ(driver->WriteCells(cells, 12), 0) << "refused: the link is not up yet";
    unsigned char shown[12] = {};
    EXPECT_TRUE(host.PumpUntil(
        [&] { return SimGetCells(shown, 12) == 12 && memcmp(shown, cells, 12) == 0; }, 5000));
    EXPECT_EQ(fields->m_linkUp, 1);
    EXPECT_EQ(driver->GetCellCount(), 12) << "a display reporting 0 cells after Open";
    Press(0, 0x02, 0);
    ASSERT_EQ(host.keys.size(), 1u);
}

TEST_F(DriverTest, SuspendClosesTheLinkAndResumeDeliversKeysThroughANewWindow) {
    EXPECT_EQ(driver->SetSuspended(0), 0);       // no worker yet: nothing posted
    EXPECT_EQ(fields->m_hNotifyWindow, nullptr); // and no class to make a window of
    const uint8_t cells[12] = {9};
    driver->SetSuspended(1);
    driver->WriteCells(cells, 12); // refused, and not silent: no retry while Open waits

    OpenWithDisplay(); // a suspension before Open does not carry into the session
    const HWND first = fields->m_hNotifyWindow;
    EXPECT_NE(driver->SetSuspended(1), 0);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(fields->m_hNotifyWindow, nullptr);
    EXPECT_EQ(SimIsLinkOpen(), 0);
    const int writes = SimCountCalls(3);
    EXPECT_EQ(driver->WriteCells(cells, 12), 0); // refused while suspended

    EXPECT_NE(driver->SetSuspended(0), 0); // waits through the link-up
    const HWND second = fields->m_hNotifyWindow;
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(IsWindow(second));
    EXPECT_EQ(SimIsLinkOpen(), 1);
    EXPECT_EQ(SimGetKeyWindow(), second);
    EXPECT_EQ(SimCountCalls(3), writes + 1) << "the write refused while suspended, now shown";
    uint8_t shown[12] = {};
    EXPECT_EQ(SimGetCells(shown, 12), 12);
    EXPECT_EQ(memcmp(shown, cells, 12), 0);

    host.ClearRecords();
    Press(0, 0x01, 0);
    ASSERT_EQ(host.keys.size(), 1u);
    EXPECT_EQ(host.keys[0].name, "LeftScroll");

    driver->SetSuspended(1);
    driver->Close();
    driver->WriteCells(cells, 12);
    OpenWithDisplay(); // nor a suspension that Close ended
}

TEST_F(DriverTest, AKeyPressedWhileCloseWaitsReachesTheHost) {
    OpenWithDisplay();
    host.ClearRecords();
    SimSetDelay(2, 300); // closing the link takes a while
    SimPressKey(0, 0x80, 0);
    driver->Close(); // serves the key event while it waits for the worker
    ASSERT_EQ(host.keys.size(), 1u);
    EXPECT_EQ(host.keys[0].name, "RightScroll");
    EXPECT_EQ(host.keys[0].threadId, GetCurrentThreadId());
}

TEST_F(DriverTest, CloseOnAnotherThreadLeavesNoWindowBehind) {
    OpenWithoutDisplay();
    const HWND window = fields->m_hNotifyWindow;
    HANDLE closer = CreateThread(
        nullptr, 0,
        [](void* object) -> DWORD {
            static_cast<IBrailleDriver*>(object)->Close();
            return 0;
        },
        driver, 0, nullptr);
    // The opening thread keeps serving its messages, as a host's UI thread does.
    EXPECT_TRUE(
        host.PumpUntil([&] { return WaitForSingleObject(closer, 0) == WAIT_OBJECT_0; }, 15000));
    CloseHandle(closer);
    EXPECT_TRUE(host.PumpUntil([&] { return !IsWindow(window); }, 5000));
    EXPECT_EQ(fields->m_hWorkerThread, nullptr);
}
