// The driver's life inside a host that does things in its own order: unload
// while a worker the driver gave up on is still in the library, unload while
// another thread loads a library, windows made on one thread and closed from
// another before the library goes, Close and SetSuspended from two threads at
// once with the worker stuck, and what a host's thread runs while Close waits.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "DebuggerOutput.h"
#include "DisplayTraffic.h"
#include "DriverDiscoveryFixture.h"
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
// library goes only when that worker ends, the worker closes the link it held
// as its call returns, and the unload there reaches nothing the worker has
// freed.
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
    const bool linkClosed = SimIsLinkOpen() == 0;
    ASSERT_TRUE(Reload());
    const bool served = OpenAndServe(&sequence);

    ReportRow("8 lifecycle",
              "write hangs 4 s, Close gives up on the worker, FreeLibrary; the worker ends",
              "library held until the worker ended: %s; worker ended: %s; unloaded: %s; device "
              "closes by the worker as it ended %d; reloaded, opened and served: %s",
              heldByWorker ? "yes" : "NO", workerEnded ? "yes" : "NO", unloaded ? "yes" : "NO",
              closesAtUnload, served ? "yes" : "NO");
    EXPECT_TRUE(heldByWorker);
    EXPECT_TRUE(workerEnded);
    EXPECT_TRUE(unloaded);
    EXPECT_EQ(closesAtUnload, 1) << "no link is left open without a worker";
    EXPECT_TRUE(linkClosed);
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

namespace {

// A window of a thread of the test's own, and what its procedure does with
// kHostMessage (run on the window's thread).
std::function<void()> g_onHostMessage;

LRESULT CALLBACK CallingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kHostMessage && g_onHostMessage)
        g_onHostMessage();
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeCallingWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CallingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QornTestCallingWindow";
    RegisterClassA(&windowClass); // fails harmlessly the second time
    return CreateWindowExA(0, windowClass.lpszClassName, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
}

// Whether the driver is closed fully: the link closed, no worker, no window,
// writes refused and keys not delivered.
struct ClosedFully {
    bool link = false, worker = false, window = false, writes = false, keys = false;
    bool All() const { return link && worker && window && writes && keys; }
    std::string Text() const {
        return std::string("link closed: ") + (link ? "yes" : "NO") +
               ", no worker: " + (worker ? "yes" : "NO") +
               ", no window: " + (window ? "yes" : "NO") +
               ", writes refused: " + (writes ? "yes" : "NO") +
               ", keys not delivered: " + (keys ? "yes" : "NO");
    }
};

} // namespace

class NestingTest : public LifecycleTest {
protected:
    // workers: the worker threads the driver had, which must all end.
    ClosedFully LookWhetherClosed(HWND windowBefore, const std::vector<HANDLE>& workers) {
        ClosedFully closed;
        host.Pump(100);
        closed.link = SimIsLinkOpen() == 0;
        closed.worker = fields->m_hWorkerThread == nullptr;
        for (HANDLE worker : workers)
            closed.worker = closed.worker && WaitForSingleObject(worker, 5000) == WAIT_OBJECT_0;
        closed.window = fields->m_hNotifyWindow == nullptr && !IsWindow(windowBefore);
        uint8_t cells[kCells] = {1, 2, 3};
        closed.writes = driver->WriteCells(cells, kCells) == 0;
        host.ClearRecords();
        SimPressKey(0, 0x02, 0);
        host.Pump(300);
        closed.keys = host.keys.empty();
        return closed;
    }
};

// A lifecycle call made from inside another one's wait: the call under way
// ends first; a nested Open answers 0 and does nothing; a nested Close is
// carried out as the call under way ends. Either way the driver ends closed
// fully, and after FreeLibrary nothing of it is left running.
TEST_F(NestingTest, ACallMadeInsideAnothersWaitLeavesTheDriverConsistent) {
    enum class Nesting {
        kOpenInCloseOfLink,
        kOpenInQuitWait,
        kCloseInOpen,
        kCloseInSuspend,
        kCloseInSuspendLook,
        kCloseInVersionQuery,
    };
    struct Case {
        const char* tried;
        Nesting nesting;
    };
    const Case cases[] = {
        {"Open from a key callback while Close waits 1.5 s for the library's close",
         Nesting::kOpenInCloseOfLink},
        {"Open from a key callback pressed as the library's close returns, while Close pauses "
         "and waits for its quit (service calls taking 0.8 s)",
         Nesting::kOpenInQuitWait},
        {"Close from a host window's sent message while Open waits 1.5 s for the device open",
         Nesting::kCloseInOpen},
        {"Close from a host window's sent message while SetSuspended(0) waits 1.5 s for the "
         "device open",
         Nesting::kCloseInSuspend},
        {"Close from a host window's sent message while SetSuspended(0) waits for its look at the "
         "device records, the Bluetooth stack hung 4 s",
         Nesting::kCloseInSuspendLook},
        {"Close from a key callback while GetDeviceVersion waits 1.5 s for the device data",
         Nesting::kCloseInVersionQuery},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tried);
        if (driver == nullptr) {
            ASSERT_TRUE(Reload());
        }
        SimReset();
        SimSetLogService(0);
        host.ClearRecords();
        std::vector<HANDLE> workers;
        int32_t nested = -1, outer = -1;
        HWND window = nullptr;
        double outerMs = 0;
        const bool hungLook = c.nesting == Nesting::kCloseInSuspendLook;
        if (c.nesting == Nesting::kCloseInOpen || c.nesting == Nesting::kCloseInSuspend ||
            hungLook) {
            const bool resume = c.nesting != Nesting::kCloseInOpen;
            if (resume) {
                OpenWithDisplay();
                driver->SetSuspended(1);
            }
            const HWND own = MakeCallingWindow();
            ASSERT_NE(own, nullptr);
            g_onHostMessage = [&] {
                window = fields->m_hNotifyWindow;
                driver->Close();
                nested = 0;
            };
            const int opens = SimCountCalls(15), searches = SimBtSearchesStarted();
            SimSetDelay(15, 1500);
            SimBtDelayNextSearch(hungLook ? 4000 : 0);
            std::thread sender([&] {
                WaitFor(
                    [&] {
                        return hungLook ? SimBtSearchesStarted() > searches
                                        : SimCountCalls(15) > opens;
                    },
                    5000);
                SimSetDelay(15, 0); // the open under way keeps its 1.5 s
                workers.push_back(DuplicateThreadHandle(fields->m_hWorkerThread));
                SendMessageA(own, kHostMessage, 0, 0);
            });
            outerMs = Timed([&] {
                outer = resume ? driver->SetSuspended(0) : driver->Open("COM5", &host, "", "");
            });
            sender.join();
            g_onHostMessage = nullptr;
            DestroyWindow(own);
        } else if (c.nesting == Nesting::kCloseInVersionQuery) {
            OpenWithDisplay();
            window = fields->m_hNotifyWindow;
            workers.push_back(DuplicateThreadHandle(fields->m_hWorkerThread));
            host.onKeyPressed = [&](const char*) {
                host.onKeyPressed = nullptr;
                driver->Close();
                nested = 0;
            };
            SimSetDelay(9, 1500);
            std::thread presser([&] {
                WaitFor([&] { return SimCountCalls(9) > 0; }, 5000);
                SimSetDelay(9, 0); // the call under way keeps its 1.5 s
                SimPressKey(0, 0x02, 0);
            });
            outerMs = Timed([&] { outer = driver->GetDeviceVersion(); });
            presser.join();
            host.onKeyPressed = nullptr;
        } else {
            OpenWithDisplay();
            window = fields->m_hNotifyWindow;
            workers.push_back(DuplicateThreadHandle(fields->m_hWorkerThread));
            host.onKeyPressed = [&](const char*) {
                host.onKeyPressed = nullptr;
                nested = driver->Open("COM5", &host, "", "");
            };
            const int closes = SimCountCalls(2);
            std::thread presser([&] {
                if (c.nesting == Nesting::kOpenInCloseOfLink) {
                    Sleep(300);
                } else {
                    SimWaitCallsReturned(2, closes + 1, 5000);
                    SimSetDelay(16, 800);
                }
                SimPressKey(0, 0x02, 0);
            });
            if (c.nesting == Nesting::kOpenInCloseOfLink)
                SimSetDelay(2, 1500);
            outerMs = Timed([&] { driver->Close(); });
            outer = 0;
            presser.join();
            host.onKeyPressed = nullptr;
        }
        SimSetDelay(2, 0);
        SimSetDelay(15, 0);
        SimSetDelay(16, 0);
        const int opensAfter = SimCountCalls(15);
        const ClosedFully closed = LookWhetherClosed(window, workers);
        const bool noNewOpen = SimCountCalls(15) == opensAfter;
        UnloadDriver();
        const bool unloaded =
            WaitFor([] { return GetModuleHandleA(kDriverFile) == nullptr; }, 10000);
        const bool stillClosed = SimIsLinkOpen() == 0;
        for (HANDLE worker : workers)
            CloseHandle(worker);

        const bool nestedOpen =
            c.nesting == Nesting::kOpenInCloseOfLink || c.nesting == Nesting::kOpenInQuitWait;
        const char* outerName = c.nesting == Nesting::kCloseInOpen                  ? "Open"
                                : c.nesting == Nesting::kCloseInSuspend || hungLook ? "SetSuspended"
                                : c.nesting == Nesting::kCloseInVersionQuery ? "GetDeviceVersion"
                                                                             : "Close";
        ReportRow("8 lifecycle", c.tried,
                  "nested call %s; outer %s answered 0x%X after %.0f ms; then %s; FreeLibrary: "
                  "unloaded %s, link closed %s",
                  !nestedOpen   ? "Close returned"
                  : nested == 0 ? "Open answered 0"
                                : "Open answered 1",
                  outerName, static_cast<unsigned>(outer), outerMs, closed.Text().c_str(),
                  unloaded ? "yes" : "NO", stillClosed ? "yes" : "NO");
        EXPECT_EQ(nested, 0);
        if (nestedOpen || c.nesting == Nesting::kCloseInOpen) {
            EXPECT_EQ(outer, 0);
        }
        if (c.nesting == Nesting::kCloseInVersionQuery) {
            EXPECT_EQ(outer, 0x010402) << "answered before the nested Close stopped the worker";
        }
        // The outer call's own bound, and a Close's when the Close runs inside it.
        EXPECT_LT(outerMs, (c.nesting == Nesting::kCloseInOpen ? 5000 : kHostCallBoundMs) +
                               kHostCallBoundMs + kMarginMs);
        if (c.nesting == Nesting::kCloseInSuspend || hungLook) {
            EXPECT_LT(outerMs, kHostCallBoundMs + kMarginMs) << "the left Close within its bound";
        }
        EXPECT_TRUE(closed.All()) << closed.Text();
        EXPECT_TRUE(noNewOpen);
        EXPECT_TRUE(unloaded);
        EXPECT_TRUE(stillClosed);
    }
}

// Thread A is inside Close, serving sent messages; thread B holds the host's
// own lock and calls SetSuspended; a key arrives and A's key handler wants
// that lock (or sends a message to a window of B). Both calls return within
// their bounds and the key is delivered.
TEST_F(LifecycleTest, CloseAndSetSuspendedOnTwoThreadsNeverFreezeEachOther) {
    struct Case {
        const char* tried;
        bool handlerSendsToB; // else the handler takes the host's lock B holds
    };
    const Case cases[] = {
        {"Close on A (library close 2 s); B holds the host's lock and calls SetSuspended(1); A's "
         "key handler takes that lock",
         false},
        {"Close on A (library close 2 s); B calls SetSuspended(1); A's key handler sends a "
         "message to a window of B",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tried);
        OpenWithDisplay();
        host.ClearRecords();
        CRITICAL_SECTION hostLock;
        InitializeCriticalSection(&hostLock);
        std::atomic<HWND> windowOfB{nullptr};
        std::atomic<bool> bDone{false};
        double suspendMs = 0;
        int32_t suspended = -1;
        host.onKeyPressed = [&](const char*) {
            if (c.handlerSendsToB) {
                SendMessageA(windowOfB, WM_NULL, 0, 0);
            } else {
                EnterCriticalSection(&hostLock);
                LeaveCriticalSection(&hostLock);
            }
        };
        SimSetDelay(2, 2000);
        const int closes = SimCountCalls(2);
        std::thread b([&] {
            windowOfB = MakeCallingWindow();
            WaitFor([&] { return SimCountCalls(2) > closes; }, 5000); // A is inside Close
            EnterCriticalSection(&hostLock);
            suspendMs = Timed([&] { suspended = driver->SetSuspended(1); });
            LeaveCriticalSection(&hostLock);
            bDone = true;
            ServeMessagesUntil([] { return false; }, 100);
            DestroyWindow(windowOfB);
        });
        std::thread presser([&] {
            WaitFor([&] { return SimCountCalls(2) > closes; }, 5000);
            Sleep(200);
            SimPressKey(0, 0x01, 0);
        });
        const double closeMs = Timed([&] { driver->Close(); });
        presser.join();
        const bool bReturned = WaitFor([&] { return bDone.load(); }, 10000);
        b.join();
        host.onKeyPressed = nullptr;
        SimSetDelay(2, 0);
        DeleteCriticalSection(&hostLock);
        const bool keyDelivered = host.keys.size() == 1 && host.keys[0].name == "LeftScroll";

        ReportRow("8 lifecycle", c.tried,
                  "Close %.0f ms; SetSuspended %.0f ms, answered %d; key delivered: %s", closeMs,
                  suspendMs, suspended, keyDelivered ? "yes" : "NO");
        EXPECT_LT(closeMs, kHostCallBoundMs + kMarginMs);
        EXPECT_TRUE(bReturned);
        EXPECT_LT(suspendMs, kHostCallBoundMs + kMarginMs);
        EXPECT_TRUE(keyDelivered);
        driver->SetSuspended(0);
        driver->Close();
    }
}

using GivenUpWorkerTest = DriverDiscoveryTest;

// The display is off and its open is slow, or the worker hangs in a service
// call: Close gives up on the worker inside the library, the next Open starts
// at once, and a second Close gives up on its worker while it waits for its
// turn. Never two calls in the library at once; a given-up worker calls it no
// more, whatever reaches it as its call returns (a due wake, a search's
// answer, an open worth a retry before ':'); the next session is served.
TEST_F(GivenUpWorkerTest, TwoWorkersAreNeverInsideTheLibraryAtOnce) {
    const struct {
        const char* tried;
        DWORD openMs; // the device open's time; 0: the display moved, a service call hangs
        int closes;
    } cases[] = {
        {"display off, its open taking 10 s: Open, Close, and Open again at once with the "
         "display back",
         10000, 1},
        {"display off, its open taking 20 s: Open, Close, Open, Close, Open again", 20000, 2},
        {"a service call hangs 20 s, a wake due, a search's answer in, port COM12:X (next open "
         "< 0): Close, Open, Close, Open again",
         0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tried);
        const DebuggerOutput debugger;
        SimReset();
        SimSetPresent(c.openMs == 0);
        SimSetDelay(15, c.openMs);
        if (c.openMs == 0) { // host silent on a port the display left: the worker looks for it
            PairDisplay();
            ASSERT_TRUE(AddPortRecord(kDisplayPortPnp, L"COM14"));
            SimSetDisplayPort(L"COM14");
            SimBtDelayNextSearch(6000);
            ASSERT_EQ(driver->Open("COM12:X", &host, "", ""), 1);
            ASSERT_TRUE(host.PumpUntil([] { return SimBtSearchesStarted() > 0; }, 40000));
            for (int wake = 0; wake < 2; ++wake) { // the second, after a sleep, is due 5 s later
                if (wake == 1)
                    SendMessageA(fields->m_hNotifyWindow, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
                SendMessageA(fields->m_hNotifyWindow, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
                host.PumpUntil([&] { return debugger.Count({"woke"}) == 1; }, 5000);
                host.Pump(300);
            }
            const int services = SimCountCalls(16);
            SimSetDelay(16, 20000);
            ASSERT_TRUE(WaitFor([&] { return SimCountCalls(16) > services; }, 5000));
            SimSetDelay(16, 0); // the call under way keeps its delay
        }
        std::vector<std::tuple<HANDLE, DWORD, int>> givenUp; // each worker, the log at its Close
        double openMs = 0, closeMs = 0;
        for (int i = 0; i < c.closes; ++i) {
            if (i > 0 || c.openMs != 0)
                openMs = Timed([&] { driver->Open("COM5", &host, "", ""); });
            givenUp.emplace_back(DuplicateThreadHandle(fields->m_hWorkerThread),
                                 fields->m_workerThreadId, SimCallCount());
            closeMs = std::max(closeMs, Timed([&] { driver->Close(); }));
        }
        host.Pump(500);           // what the given-up workers do at once
        const int32_t retry = -1; // the next open's answer, were a given-up worker let in
        SimQueueResults(15, &retry, c.openMs == 0);
        SimSetDelay(15, 0);
        SimSetPresent(1);
        SimSetDisplayPort(nullptr);
        int32_t reopened = 0;
        const double reopenMs = Timed([&] { reopened = driver->Open("COM5", &host, "", ""); });
        uint32_t sequence = 0;
        const double shownMs = WriteUntilShown(host, 4, &sequence, kRecoveryTimeoutMs);
        int ended = 0, strays = 0;
        for (const auto& [thread, id, from] : givenUp) {
            ended += WaitForSingleObject(thread, 25000) == WAIT_OBJECT_0;
            for (const SimCall& call : SimCallsSince(from))
                strays += call.threadId == id;
            CloseHandle(thread);
        }
        driver->Close();
        const int woke = debugger.Count({"woke"}), found = debugger.Count({"records name COM14"});

        ReportRow("8 lifecycle", c.tried,
                  "Open %.0f ms, Close %.0f ms (longest), Open again %.0f ms (answered %d); "
                  "given-up workers ended %d/%d, their calls after their Close %d; served %.0f "
                  "ms later; overlapping calls in the library: %d; wakes told %d, answers %d",
                  openMs, closeMs, reopenMs, reopened, ended, c.closes, strays, shownMs,
                  SimOverlaps(), woke, found);
        EXPECT_LT(closeMs, kHostCallBoundMs + kMarginMs);
        EXPECT_EQ(reopened, 1);
        EXPECT_EQ(ended, c.closes);
        EXPECT_GE(shownMs, 0.0);
        EXPECT_EQ(SimOverlaps(), 0);
        EXPECT_EQ(strays, 0);
        // The first wake re-links at once; the second, due as the hung call
        // returns, goes with the session the host let go of; the search's
        // answer still reaches the worker.
        EXPECT_EQ(woke, c.openMs == 0 ? 1 : 0);
        EXPECT_EQ(found, c.openMs == 0 ? 1 : 0);
    }
}

namespace {
// Access violations at addresses inside the driver's image once it is gone.
std::atomic<uintptr_t> g_imageStart{0}, g_imageEnd{0};
std::atomic<int> g_faultsInImage{0};

LONG CALLBACK CountFaultsInImage(EXCEPTION_POINTERS* pointers) {
    const auto at = reinterpret_cast<uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
    if (pointers->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
        at >= g_imageStart && at < g_imageEnd)
        ++g_faultsInImage;
    return EXCEPTION_CONTINUE_SEARCH;
}
} // namespace

// The window's thread W is inside KeyPressed when another thread closes and
// frees the driver. Close waits for a 1 s delivery; a 4 s one outlasts its
// bound, and the host frees the driver while W is still in the host's
// callback. Either way the library stays mapped until W has left its code,
// and W returns to its own loop normally.
TEST_F(LifecycleTest, CloseAndFreeLibraryDuringAKeyPressedOnAnotherThread) {
    for (const DWORD keyPressedMs : {1000u, 4000u}) {
        SCOPED_TRACE(keyPressedMs);
        if (driver == nullptr) {
            ASSERT_TRUE(Reload());
        }
        std::atomic<bool> opened{false}, inKeyPressed{false}, keyReturned{false};
        std::atomic<bool> heldAfterKey{false};
        host.onKeyPressed = [&](const char*) {
            inKeyPressed = true;
            Sleep(keyPressedMs);
            heldAfterKey = GetModuleHandleA(kDriverFile) != nullptr;
        };
        std::thread w([&] {
            driver->Open("COM5", &host, "", "");
            opened = true;
            ServeMessagesUntil([&] { return keyReturned.load(); }, 15000);
            ServeMessagesUntil([] { return false; }, 200);
        });
        ASSERT_TRUE(WaitFor([&] { return opened.load(); }, 10000));
        const auto* image = reinterpret_cast<const char*>(host.Module());
        const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
            image + reinterpret_cast<const IMAGE_DOS_HEADER*>(image)->e_lfanew);
        g_imageStart = reinterpret_cast<uintptr_t>(image);
        g_imageEnd = g_imageStart + headers->OptionalHeader.SizeOfImage;
        g_faultsInImage = 0;
        const PVOID handler = AddVectoredExceptionHandler(1, CountFaultsInImage);
        const HWND window = fields->m_hNotifyWindow;
        std::thread presser([&] {
            SimPressKey(0, 0x02, 0);
            SimWaitKeysDelivered(15000);
            keyReturned = true; // SendMessage to W came back: W left the window procedure
        });
        ASSERT_TRUE(WaitFor([&] { return inKeyPressed.load(); }, 5000));
        const double closeMs = Timed([&] { driver->Close(); });
        const bool closedDuringKey = !keyReturned;
        UnloadDriver();
        presser.join();
        w.join();
        const bool unloaded = GetModuleHandleA(kDriverFile) == nullptr;
        RemoveVectoredExceptionHandler(handler);

        char tried[160];
        snprintf(tried, sizeof tried,
                 "Close and FreeLibrary from another thread while the window's thread is %.0f s "
                 "inside KeyPressed",
                 keyPressedMs / 1000.0);
        ReportRow("8 lifecycle", tried,
                  "Close %.0f ms (%s); library mapped when KeyPressed returned: %s; W back in "
                  "its loop: %s; faults in the driver's image %d; unloaded after: %s; window "
                  "gone: %s",
                  closeMs, closedDuringKey ? "gave up on the delivery" : "waited for the delivery",
                  heldAfterKey ? "yes" : "NO", keyReturned ? "yes" : "NO", g_faultsInImage.load(),
                  unloaded ? "yes" : "NO", IsWindow(window) ? "NO" : "yes");
        // Close keeps 1 s of its 3 s bound for stopping the worker.
        const bool outlastsClose = keyPressedMs > kHostCallBoundMs - 1000;
        EXPECT_EQ(closedDuringKey, outlastsClose);
        EXPECT_GE(closeMs, outlastsClose ? 1500.0 : 900.0);
        EXPECT_LT(closeMs, kHostCallBoundMs + kMarginMs);
        EXPECT_TRUE(heldAfterKey);
        EXPECT_TRUE(keyReturned);
        EXPECT_EQ(g_faultsInImage, 0);
        EXPECT_TRUE(unloaded);
    }
}

// The library sends a key while Close, called from a thread other than the
// window's, is waiting for the device's close: Close looked for deliveries in
// flight before it began to stop the worker, so the window's thread enters
// KeyPressed after that look, and Close must still not return while it is in it.
TEST_F(LifecycleTest, NoKeyPressedRunsOnceCloseFromAnotherThreadHasReturned) {
    std::atomic<bool> opened{false}, stop{false};
    std::atomic<int> started{0}, ended{0};
    host.onKeyPressed = [&](const char*) {
        ++started;
        Sleep(800);
        ++ended;
    };
    std::thread w([&] {
        driver->Open("COM5", &host, "", "");
        opened = true;
        ServeMessagesUntil([&] { return stop.load(); }, 15000);
    });
    ASSERT_TRUE(WaitFor([&] { return opened.load(); }, 10000));
    SimSetDelay(2, 600); // the library's close takes 0.6 s
    const int closes = SimCountCalls(2);
    std::thread presser([&] {
        WaitFor([&] { return SimCountCalls(2) > closes; }, 5000); // Close is stopping the worker
        SimPressKey(0, 0x02, 0);
    });
    const double closeMs = Timed([&] { driver->Close(); });
    const int startedBy = started, endedBy = ended;
    presser.join();
    SimWaitKeysDelivered(5000);
    stop = true;
    w.join();
    SimSetDelay(2, 0);
    host.onKeyPressed = nullptr;

    ReportRow("8 lifecycle",
              "a key sent while Close, on another thread than the window's, waits 0.6 s for the "
              "library's close; KeyPressed takes 0.8 s",
              "Close %.0f ms; KeyPressed calls begun by then %d, of which still running %d",
              closeMs, startedBy, startedBy - endedBy);
    EXPECT_EQ(startedBy, endedBy) << "the host's KeyPressed ran on after Close had returned";
}

// The host writes from another thread while Close runs, with the display out of
// reach; it comes back while Close waits for the device's close. The re-link
// requests those refused writes queued behind the close command must not open
// the link again once the worker has been told to close it.
TEST_F(LifecycleTest, NoLinkIsOpenedAfterCloseHasToldTheWorkerToClose) {
    OpenWithoutDisplay();
    SimSetDelay(2, 300);
    const int callsBefore = SimCallCount();
    const int closes = SimCountCalls(2);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        uint8_t cells[kCells] = {1, 2, 3};
        while (!stop) {
            driver->WriteCells(cells, kCells);
            Sleep(1);
        }
    });
    std::thread revive([&] {
        WaitFor([&] { return SimCountCalls(2) > closes; }, 5000);
        SimSetPresent(1); // the display is back while the library closes
    });
    Sleep(100);
    const double closeMs = Timed([&] { driver->Close(); });
    stop = true;
    writer.join();
    revive.join();
    SimSetDelay(2, 0);
    // Calls of the library after the close command's own call began.
    int closeIndex = -1, opensAfter = 0, writesAfter = 0;
    const int total = SimCallCount();
    for (int i = callsBefore; i < total; ++i) {
        SimCall call{};
        if (!SimGetCall(i, &call))
            continue;
        if (call.ordinal == 2 && closeIndex < 0)
            closeIndex = i;
        else if (closeIndex >= 0 && call.ordinal == 15 && call.result > 0)
            ++opensAfter;
        else if (closeIndex >= 0 && call.ordinal == 3)
            ++writesAfter;
    }

    ReportRow("8 lifecycle",
              "host writes on another thread with the link down; Close; the display comes back "
              "during the library's 0.3 s close",
              "Close %.0f ms; links opened after the close command %d, cell writes after it %d; "
              "link closed at the end: %s",
              closeMs, opensAfter, writesAfter, SimIsLinkOpen() == 0 ? "yes" : "NO");
    EXPECT_GE(closeIndex, 0);
    EXPECT_EQ(opensAfter, 0) << "a re-link request queued behind the close opened the link again";
    EXPECT_EQ(writesAfter, 0);
}

// A wake queued while the worker is busy in a slow write, then Close or
// SetSuspended(1): the host has let go, and nothing brings the link up or
// writes the host's cells after that.
TEST_F(LifecycleTest, NoLinkUpFollowsTheHostLettingGoOfTheDisplay) {
    for (const bool closes : {true, false}) {
        SCOPED_TRACE(closes ? "Close" : "SetSuspended(1)");
        OpenWithDisplay();
        SimSetDelay(3, 600);
        SimSetDelay(15, 1500);
        const uint8_t cells[kCells] = {0x22};
        driver->WriteCells(cells, kCells);
        Sleep(50); // the worker inside the write
        SendMessageA(fields->m_hNotifyWindow, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
        const int mark = SimCallCount();
        const double letGoMs =
            Timed([&] { closes ? driver->Close() : (void)driver->SetSuspended(1); });
        SimSetDelay(3, 0);
        SimSetDelay(15, 0);
        SimEndDelays();
        host.Pump(3000);
        const size_t opens = SimCallsSince(mark, 15).size(), writes = SimCallsSince(mark, 3).size();

        ReportRow("8 lifecycle",
                  std::string("a wake queued while the worker is in a 0.6 s write, then ") +
                      (closes ? "Close" : "SetSuspended(1)"),
                  "returned after %.0f ms; opens after it %zu, writes after it %zu; link open: %s",
                  letGoMs, opens, writes, SimIsLinkOpen() ? "YES" : "no");
        EXPECT_LT(letGoMs, kHostCallBoundMs);
        EXPECT_EQ(opens, 0u);
        EXPECT_EQ(writes, 0u);
        EXPECT_EQ(SimIsLinkOpen(), 0);
        driver->Close();
    }
}
