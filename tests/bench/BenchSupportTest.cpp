// The benchmark's statistics, spans split at log marks, table cells, cell patterns, memory count
// and message serving.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <vector>

#include "BenchSupport.h"
#include "ResultTable.h"

TEST(Samples, PercentilesAreTakenByNearestRank) {
    Samples samples;
    for (int value = 100; value >= 1; --value) // out of order on purpose
        samples.Add(value);
    EXPECT_EQ(samples.Median(), 50.0);
    EXPECT_EQ(samples.Percentile(0.99), 99.0);
    EXPECT_EQ(samples.Percentile(1.0), 100.0);
    EXPECT_EQ(samples.Percentile(0.0), 1.0);
    EXPECT_EQ(samples.Worst(), 100.0);
    Samples one;
    one.Add(7.5);
    EXPECT_EQ(one.Median(), 7.5);
    EXPECT_EQ(one.Percentile(0.99), 7.5);
    EXPECT_EQ(Samples().Median(), 0.0);
}

TEST(Samples, AppendedSamplesCountLikeAddedOnes) {
    Samples first, second;
    for (int value = 1; value <= 50; ++value)
        first.Add(value);
    for (int value = 51; value <= 100; ++value)
        second.Add(value);
    first.Append(second);
    EXPECT_EQ(first.Percentile(0.99), 99.0);
}

TEST(SplitSpan, PartsRunMarkToMarkAndAddUpWhateverTheOrder) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const int64_t ms = frequency.QuadPart / 1000;
    const int64_t from = 1000 * ms;
    const std::vector<double> inOrder =
        SplitSpanMs(from, {from + 5 * ms, from + 6 * ms, from + 11 * ms});
    ASSERT_EQ(inOrder.size(), 3u);
    EXPECT_NEAR(inOrder[0], 5.0, 1e-3);
    EXPECT_NEAR(inOrder[1], 1.0, 1e-3);
    EXPECT_NEAR(inOrder[2], 5.0, 1e-3);
    // A write that ended before the span began, and one that started before
    // the one before it ended: no negative part, and still the whole span.
    const std::vector<double> early = SplitSpanMs(from, {from - 3 * ms, from - ms, from + 4 * ms});
    EXPECT_NEAR(early[0], 0.0, 1e-3);
    EXPECT_NEAR(early[1], 0.0, 1e-3);
    EXPECT_NEAR(early[2], 4.0, 1e-3);
    const std::vector<double> crossed =
        SplitSpanMs(from, {from + 7 * ms, from + 2 * ms, from + 9 * ms});
    EXPECT_NEAR(crossed[0], 7.0, 1e-3);
    EXPECT_NEAR(crossed[1], 0.0, 1e-3);
    EXPECT_NEAR(crossed[2], 2.0, 1e-3);
}

TEST(ResultCells, RatiosAndUnits) {
    EXPECT_EQ(Ratio(3.0, 2.0), "1.50x");
    EXPECT_EQ(Ratio(1.0, 4.0), "0.25x");
    EXPECT_EQ(Ratio(0.3, 64.8), "0.0046x"); // small ratios keep two digits
    EXPECT_EQ(Ratio(0.0, 5.0), "0x");
    EXPECT_EQ(Ratio(1.0, 0.0), "-");
    EXPECT_EQ(Micros(12.345), "12.3 us");
    EXPECT_EQ(Millis(5.126), "5.13 ms");
    EXPECT_EQ(Bytes(0.0), "+0 B");
    EXPECT_EQ(Bytes(-4096.0), "-4096 B");
}

TEST(CellPatterns, EverySerialHasCellsOfItsOwn) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const CellPattern pattern = PatternFor(NextSerial());
        seen.insert(std::string(reinterpret_cast<const char*>(pattern.cells), kBenchCells));
    }
    EXPECT_EQ(seen.size(), 2000u);
    const CellPattern again = PatternFor(42), once = PatternFor(42);
    EXPECT_EQ(memcmp(again.cells, once.cells, kBenchCells), 0);
}

TEST(CommittedPrivateBytes, FollowsCommittedMemory) {
    constexpr size_t kSize = 64 * 1024 * 1024;
    const size_t before = CommittedPrivateBytes();
    EXPECT_GT(before, 0u);
    void* block = VirtualAlloc(nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(CommittedPrivateBytes(), before + kSize);
    VirtualFree(block, 0, MEM_RELEASE);
    EXPECT_LT(CommittedPrivateBytes(), before + kSize / 2);
}

namespace {
std::atomic<int> g_served{0};

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP)
        ++g_served;
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateCountingWindow() {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QornBenchTestWindow";
    RegisterClassExA(&windowClass);
    return CreateWindowExA(0, windowClass.lpszClassName, nullptr, WS_DISABLED, 0, 0, 0, 0, nullptr,
                           nullptr, windowClass.hInstance, nullptr);
}
} // namespace

TEST(ServeMessages, ServesMessagesSentFromAnotherThreadUntilDone) {
    const HWND window = CreateCountingWindow();
    ASSERT_NE(window, nullptr);
    g_served = 0;
    {
        BenchThread sender(THREAD_PRIORITY_NORMAL, [window] {
            for (int i = 0; i < 3; ++i)
                SendMessageA(window, WM_APP, 0, 0); // returns only once served
        });
        EXPECT_TRUE(ServeMessagesUntil([] { return g_served == 3; }, 10000));
    }
    EXPECT_FALSE(ServeMessagesUntil([] { return false; }, 50));
    DestroyWindow(window);
}
