// The simulated display's log marks that the benchmark's figures rest on:
// when a device call returned and with what result, waiting for returns, and
// when a key was sent.
#include <gtest/gtest.h>

#include "BenchSupport.h"
#include "DeviceLibrary.h"
#include "KeyEvent.h"
#include "SimulatedDisplay.h"
#include "TestSupport.h"

namespace {

constexpr DWORD kSlowMs = 500;

DWORD WINAPI WriteOnce(void*) {
    const uint8_t cells[12] = {7};
    QornTI_WriteCells(0, 12, cells);
    return 0;
}

double TicksToMs(int64_t ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

int64_t g_keyReceivedTicks = 0;

LRESULT CALLBACK KeyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_BRAILLE_KEY) {
        g_keyReceivedTicks = Ticks();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

class SimulatedDisplayTiming : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        SimSetLogService(0);
    }
    void TearDown() override { SimReset(); }

    // Starts a slow device write on a thread of its own; returns once it is under way.
    HANDLE StartSlowWrite() {
        SimSetDelay(3, kSlowMs);
        HANDLE thread = CreateThread(nullptr, 0, WriteOnce, nullptr, 0, nullptr);
        EXPECT_TRUE(WaitFor([] { return SimCountCalls(3) == 1; }, 5000));
        return thread;
    }

    static void Finish(HANDLE thread) {
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
    }
};

TEST_F(SimulatedDisplayTiming, AWriteIsStampedWhenItReturnsAndItsWaitersWakeThen) {
    HANDLE thread = StartSlowWrite();
    SimCall during;
    ASSERT_TRUE(SimGetCall(0, &during));
    EXPECT_EQ(during.endTicks, 0) << "stamped before it returned";
    EXPECT_EQ(SimWaitCallsReturned(3, 1, 0), 0);
    EXPECT_EQ(SimWaitCallsReturned(3, 1, 10000), 1);
    SimCall after;
    ASSERT_TRUE(SimGetCall(0, &after));
    EXPECT_GE(TicksToMs(after.endTicks - after.startTicks), kSlowMs - 50.0);
    Finish(thread);
}

TEST_F(SimulatedDisplayTiming, AThrowingCallCountsAsReturned) {
    SimThrowOnNext(3, 1);
    const uint8_t cells[12] = {};
    try {
        QornTI_WriteCells(0, 12, cells);
        ADD_FAILURE() << "the scripted exception did not come";
    } catch (...) {
    }
    EXPECT_EQ(SimWaitCallsReturned(3, 1, 0), 1);
    SimCall call;
    ASSERT_TRUE(SimGetCall(0, &call));
    EXPECT_NE(call.endTicks, 0);
}

// The benchmark finds the driver's failed steps, and the write that shows
// the cells, by their logged results.
TEST_F(SimulatedDisplayTiming, ADisplayThatLeftAndCameBackIsLoggedFailingThenShowing) {
    const uint8_t cells[12] = {9, 8, 7};
    ASSERT_EQ(QornTI_OpenLink(L"COM5", 0), 1);
    SimSetPresent(0);
    EXPECT_EQ(QornTI_WriteCells(0, 12, cells), 0);
    EXPECT_EQ(QornTI_OpenLink(L"COM5", 0), 0);
    SimSetPresent(1);
    EXPECT_EQ(QornTI_OpenLink(L"COM5", 0), 1);
    EXPECT_EQ(QornTI_WriteCells(0, 12, cells), 1);
    const int expected[][2] = {{15, 1}, {3, 0}, {15, 0}, {15, 1}, {3, 1}};
    ASSERT_EQ(SimCallCount(), 5);
    for (int index = 0; index < 5; ++index) {
        SimCall call;
        ASSERT_TRUE(SimGetCall(index, &call));
        EXPECT_EQ(call.ordinal, expected[index][0]) << index;
        EXPECT_EQ(call.result, expected[index][1]) << index;
        EXPECT_GE(call.endTicks, call.startTicks) << index;
    }
    uint8_t shown[12] = {};
    EXPECT_EQ(SimGetCells(shown, 12), 12);
    EXPECT_EQ(shown[0], 9);
}

TEST_F(SimulatedDisplayTiming, ACallUnderWayAcrossAResetLeavesTheNewLogAlone) {
    HANDLE thread = StartSlowWrite();
    SimReset();
    SimSetLogService(1);
    QornTI_Service();
    SimCall service;
    ASSERT_TRUE(SimGetCall(0, &service));
    Finish(thread); // the old write returns now
    SimCall later;
    ASSERT_TRUE(SimGetCall(0, &later));
    EXPECT_EQ(later.ordinal, 16);
    EXPECT_EQ(later.endTicks, service.endTicks);
}

TEST_F(SimulatedDisplayTiming, AKeyIsStampedRightBeforeTheWindowGetsIt) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = KeyWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QornSimKeyTimingWindow";
    RegisterClassExA(&windowClass);
    const HWND window = CreateWindowExA(0, windowClass.lpszClassName, nullptr, WS_DISABLED, 0, 0, 0,
                                        0, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    QornTI_RegisterKeyWindow(WM_BRAILLE_KEY, window, 1);
    g_keyReceivedTicks = 0;
    const int64_t before = Ticks();
    SimPressKey(0, kJoystickLeft, 0);
    ASSERT_TRUE(ServeMessagesUntil([] { return g_keyReceivedTicks != 0; }, 10000));
    const int64_t sent = SimLastKeySentTicks();
    EXPECT_GE(sent, before);
    EXPECT_LE(sent, g_keyReceivedTicks);
    SimReset(); // no key goes to the window once it is gone
    DestroyWindow(window);
}
