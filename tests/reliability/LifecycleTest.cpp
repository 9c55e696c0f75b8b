// The driver's life inside a host that does things in its own order: unload
// while a worker the driver gave up on is still in the library, unload while
// another thread loads a library, windows made on one thread and closed from
// another before the library goes, Close and SetSuspended from two threads at
// once with the worker stuck, and what a host's thread runs while Close waits.
#include <atomic>
#include <thread>

#include "DisplayTraffic.h"
#include "DriverFixture.h"
#include "ProcessCensus.h"
#include "ReliabilityTable.h"

namespace {

constexpr char kDriverFile[] = "QornDriver.jlb";
constexpr double kHostCallBoundMs = 3000;
constexpr double kMarginMs = 1000;

// A window of the host's own, recording whether its message ran inside Close.
std::atomic<bool> g_inClose{false};
std::atomic<int> g_postedRanInClose{0}, g_postedRanAfter{0};
constexpr UINT kHostMessage = WM_APP + 21;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kHostMessage)
        ++(g_inClose ? g_postedRanInClose : g_postedRanAfter);
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

class LifecycleTest : public DriverTest {
protected:
    // The host lets go of the library; the fixture has nothing left to close.
    void UnloadDriver() {
        host.Unload();
        driver = nullptr;
        fields = nullptr;
    }
    bool Reload() {
        if (!host.Load())
            return false;
        driver = host.Driver();
        fields = static_cast<CBrailleSampleDriver*>(driver);
        return true;
    }
    // The next cell write takes this long on the device; returns once the
    // worker is in it.
    bool HangNextWrite(DWORD milliseconds, uint32_t* sequence) {
        const int writes = SimCountCalls(3);
        SimSetDelay(3, milliseconds);
        uint8_t cells[kCells];
        PatternCells(3, (*sequence)++, cells);
        driver->WriteCells(cells, kCells);
        const bool inIt = WaitFor([&] { return SimCountCalls(3) > writes; }, 5000);
        SimSetDelay(3, 0); // the write under way keeps its delay
        return inIt;
    }
    bool OpenAndServe(uint32_t* sequence) { return ::OpenAndServe(host, sequence); }
};

// A write hangs, Close gives up on the worker, the host frees the library: the
// library goes only when that worker ends, and its unload there reaches
// nothing the worker has freed and calls nothing in the device library.
TEST_F(LifecycleTest, UnloadOnAWorkerTheDriverGaveUpOnIsClean) {
    uint32_t sequence = 0;
    OpenWithDisplay();
    const HANDLE worker = DuplicateThreadHandle(fields->m_hWorkerThread);
    ASSERT_TRUE(HangNextWrite(4000, &sequence));
    driver->Close();
    const int closes = SimCountCalls(2);
    UnloadDriver();
    const bool heldByWorker = GetModuleHandleA(kDriverFile) != nullptr;
    const bool workerEnded = WaitForSingleObject(worker, 10000) == WAIT_OBJECT_0;
    CloseHandle(worker);
    const bool unloaded = WaitFor([] { return GetModuleHandleA(kDriverFile) == nullptr; }, 5000);
    const int closesAtUnload = SimCountCalls(2) - closes;
    ASSERT_TRUE(Reload());
    const bool served = OpenAndServe(&sequence);

    ReportRow("8 lifecycle",
              "write hangs 4 s, Close gives up on the worker, FreeLibrary; the worker ends",
              "library held until the worker ended: %s; worker ended: %s; unloaded: %s; device "
              "closes at unload %d; reloaded, opened and served: %s",
              heldByWorker ? "yes" : "NO", workerEnded ? "yes" : "NO", unloaded ? "yes" : "NO",
              closesAtUnload, served ? "yes" : "NO");
    EXPECT_TRUE(heldByWorker);
    EXPECT_TRUE(workerEnded);
    EXPECT_TRUE(unloaded);
    EXPECT_EQ(closesAtUnload, 0);
    EXPECT_TRUE(served);
}

// The unload runs under the loader lock: it makes no device call there, so
// another thread's LoadLibrary is not held up by a slow device close.
TEST_F(LifecycleTest, UnloadHoldsUpNoOtherThreadsLibraryLoad) {
    OpenWithDisplay();
    driver->Close();
    fields->m_linkUp = 1; // as a host that unloads with the link up leaves it
    SimSetDelay(2, 2000);
    const int closes = SimCountCalls(2);
    std::atomic<bool> unloading{false};
    double loadMs = 0;
    std::thread loader([&] {
        while (!unloading)
            Sleep(0);
        Sleep(20);
        loadMs = Timed([] { FreeLibrary(LoadLibraryA("version.dll")); });
    });
    unloading = true;
    const double unloadMs = Timed([&] { UnloadDriver(); });
    loader.join();
    SimSetDelay(2, 0);

    ReportRow("8 lifecycle",
              "FreeLibrary with the link marked up, a 2 s device close, another thread's "
              "LoadLibrary 20 ms later",
              "FreeLibrary %.0f ms; the other LoadLibrary %.0f ms; device closes at unload %d",
              unloadMs, loadMs, SimCountCalls(2) - closes);
    EXPECT_EQ(SimCountCalls(2), closes);
    EXPECT_LT(loadMs, 1000.0);
}

// Windows made on a thread of their own: closed from another thread, or left
// to the unload; the library goes, then their thread serves its messages.
TEST_F(LifecycleTest, WindowsOfAnotherThreadNeverCallTheDriverAfterUnload) {
    struct Case {
        const char* tried;
        bool resumeAfterClose; // the window made by a resume after Close, left to the unload
    };
    const Case cases[] = {
        {"Open on thread W, Close on another, FreeLibrary, W serves its messages", false},
        {"Open, Close, then SetSuspended(0) on W (a window with no session), FreeLibrary, W serves",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tried);
        if (driver == nullptr) {
            ASSERT_TRUE(Reload());
        }
        HWND window = nullptr;
        HANDLE opened = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE pump = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        bool served = false; // set only if no message of W's jumped into unloaded code
        std::thread owner([&] {
            driver->Open("COM5", &host, "", "");
            if (c.resumeAfterClose) {
                driver->Close();
                driver->SetSuspended(0);
            }
            window = fields->m_hNotifyWindow;
            SetEvent(opened);
            WaitForSingleObject(pump, 10000);
            ServeMessagesUntil([] { return false; }, 300);
            served = true;
        });
        WaitForSingleObject(opened, 10000);
        const bool made = window != nullptr;
        PostMessageA(window, 1025, 0, 0); // a key message, waiting for W's loop
        if (!c.resumeAfterClose)
            driver->Close(); // from a thread other than the window's
        UnloadDriver();
        const bool unloaded = GetModuleHandleA(kDriverFile) == nullptr;
        SetEvent(pump);
        owner.join();
        const bool gone = !IsWindow(window);
        CloseHandle(opened);
        CloseHandle(pump);
        ReportRow("8 lifecycle", c.tried,
                  "window made: %s; library unloaded: %s; W served its messages: %s; window "
                  "gone: %s",
                  made ? "yes" : "NO", unloaded ? "yes" : "NO", served ? "yes" : "NO",
                  gone ? "yes" : "NO");
        EXPECT_TRUE(made);
        EXPECT_TRUE(unloaded);
        EXPECT_TRUE(served);
        EXPECT_TRUE(gone);
    }
}

// Close and SetSuspended(1) at once from two host threads while the worker is
// stuck in the library: one after the other, each within its bound, and
// neither touches an event the host makes once the driver has closed its own.
TEST_F(LifecycleTest, CloseAndSuspendFromTwoThreadsWithTheWorkerStuck) {
    OpenWithDisplay();
    uint32_t sequence = 0;
    const HANDLE worker = DuplicateThreadHandle(fields->m_hWorkerThread);
    ASSERT_TRUE(HangNextWrite(6000, &sequence));
    double closeMs = 0, suspendMs = 0;
    std::thread closer([&] { closeMs = Timed([&] { driver->Close(); }); });
    Sleep(50);
    std::thread suspender([&] { suspendMs = Timed([&] { driver->SetSuspended(1); }); });
    // Events of the host's, made as the driver lets go of its own: the same
    // handle values may come back.
    std::vector<HANDLE> hostEvents;
    WaitFor([&] { return fields->m_hAckEvent == nullptr; }, 10000);
    for (int i = 0; i < 8; ++i)
        hostEvents.push_back(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    closer.join();
    suspender.join();
    int reset = 0;
    for (HANDLE event : hostEvents) {
        reset += WaitForSingleObject(event, 0) != WAIT_OBJECT_0;
        CloseHandle(event);
    }
    const bool workerEnded = WaitForSingleObject(worker, 15000) == WAIT_OBJECT_0;
    CloseHandle(worker);
    driver->SetSuspended(0);
    const bool served = OpenAndServe(&sequence);

    ReportRow("8 lifecycle",
              "Close and SetSuspended(1) from two threads, worker stuck 6 s in a write",
              "Close %.0f ms, SetSuspended %.0f ms (it waits for Close); host events reset %d/8; "
              "stuck worker ended: %s; new Open served: %s",
              closeMs, suspendMs, reset, workerEnded ? "yes" : "NO", served ? "yes" : "NO");
    EXPECT_LT(closeMs, kHostCallBoundMs + kMarginMs);
    EXPECT_LT(suspendMs, 2 * kHostCallBoundMs + kMarginMs);
    EXPECT_EQ(reset, 0);
    EXPECT_TRUE(workerEnded);
    EXPECT_TRUE(served);
}

// While Close waits for the worker, the host's thread runs the library's key
// events, which are sent to it, but not what the host posted to its own windows.
TEST_F(LifecycleTest, WhileCloseWaitsKeysArriveAndPostedMessagesWait) {
    OpenWithDisplay();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QornTestHostWindow";
    RegisterClassA(&windowClass);
    const HWND own = CreateWindowExA(0, windowClass.lpszClassName, nullptr, 0, 0, 0, 0, 0, nullptr,
                                     nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(own, nullptr);
    g_postedRanInClose = g_postedRanAfter = 0;
    host.ClearRecords();
    SimSetDelay(2, 1500); // Close waits 1.5 s for the device close
    PostMessageA(own, kHostMessage, 0, 0);
    std::thread presser([] {
        Sleep(400);
        SimPressKey(0, 0x08 | 0x01, 0); // LeftScroll+JoystickUp
    });
    g_inClose = true;
    const double closeMs = Timed([&] { driver->Close(); });
    g_inClose = false;
    presser.join();
    const size_t keysInClose = host.keys.size();
    host.Pump(100);
    SimSetDelay(2, 0);
    DestroyWindow(own);
    UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);

    ReportRow("8 lifecycle",
              "a message the host posted to its own window, and a key, while Close waits 1.5 s",
              "Close %.0f ms; key delivered inside Close: %zu; posted message run inside Close %d, "
              "after it %d",
              closeMs, keysInClose, g_postedRanInClose.load(), g_postedRanAfter.load());
    EXPECT_EQ(keysInClose, 1u);
    EXPECT_EQ(g_postedRanInClose, 0);
    EXPECT_EQ(g_postedRanAfter, 1);
}
