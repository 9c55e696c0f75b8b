// The export and every slot of the interface table, called through the real
// library and its raw table, before and after Open.
#include "DriverFixture.h"

namespace {

enum Slot {
    kOpen = 0,
    kClose = 1,
    kSetHostCallback = 2,
    kGetHostText1 = 3,
    kGetHostText2 = 4,
    kGetDisplayName = 5,
    kGetDriverAttributes = 6,
    kGetDriverVersion = 7,
    kGetDeviceVersion = 8,
    kWriteCells = 11,
    kWriteStatusCells = 12,
    kClearDisplay = 13,
    kSetSuspended = 16,
    kGetCellCount = 18,
    kGetStatusCellCount = 20,
    kGetTotalCellCount = 21,
    kGetManufacturer = 34
};

constexpr int kUnusedWithResult[] = {9, 10, 14, 15, 19, 22, 23, 24, 25, 26, 27, 28, 29, 31, 33};
constexpr int kUnusedWithout[] = {17, 30, 32, 35, 36};

using GetBrailleInterfaceFn = IBrailleDriver* (*)(IBrailleDriver**);

GetBrailleInterfaceFn Export(HMODULE module) {
    return reinterpret_cast<GetBrailleInterfaceFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetBrailleInterface")));
}

} // namespace

TEST_F(DriverTest, TheExportAlwaysHandsOutTheSameObject) {
    GetBrailleInterfaceFn get = Export(host.Module());
    ASSERT_NE(get, nullptr);
    IBrailleDriver* first = nullptr;
    IBrailleDriver* second = nullptr;
    EXPECT_EQ(get(&first), first);
    EXPECT_EQ(get(&second), second);
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, driver);
    EXPECT_EQ(get(nullptr), driver); // nothing written, the object still handed out
}

TEST_F(DriverTest, ConstantQueriesThroughTheRawTable) {
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetDriverAttributes), 768);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetDriverVersion), 16779777);
    char name[64];
    memset(name, 'x', sizeof name);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetDisplayName, name, int32_t{64}), 8);
    EXPECT_STREQ(name, "Lumivo12");
    for (size_t i = 8; i < sizeof name; ++i)
        ASSERT_EQ(name[i], '\0') << "byte " << i;
}

TEST_F(DriverTest, BeforeOpenTheObjectAnswersWithItsLoadValues) {
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetCellCount), 0);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetStatusCellCount), 0);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetTotalCellCount), 0);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetDeviceVersion), 0);
    char text[300];
    memset(text, 'x', sizeof text);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetHostText1, text, int32_t{300}), 0);
    for (char c : text)
        ASSERT_EQ(c, '\0');
    EXPECT_STREQ(fields->m_windowClassName, "jQornDriver");
    EXPECT_EQ(fields->m_alive, 1);
    EXPECT_EQ(fields->m_skipLimit, 20);
    EXPECT_EQ(fields->m_hNotifyWindow, nullptr);
    EXPECT_EQ(fields->m_hWorkerThread, nullptr);
    EXPECT_EQ(SimCallCount(), 0); // no query reached the device library
}

TEST_F(DriverTest, UnnamedSlotsAnswerZeroAndTouchNothing) {
    driver->Open("COM5", &host, "one", "two");
    const std::vector<uint8_t> before = FieldBytes(fields);
    const int calls = SimCallCount();
    for (int slot : kUnusedWithResult) {
        SCOPED_TRACE(slot);
        // Whatever a host passes in these positions is ignored.
        EXPECT_EQ(CallSlot<int32_t>(driver, slot, reinterpret_cast<void*>(1), -1, nullptr), 0);
    }
    for (int slot : kUnusedWithout)
        CallSlot<void>(driver, slot, reinterpret_cast<void*>(1), -1, nullptr);
    EXPECT_EQ(FieldBytes(fields), before);
    EXPECT_EQ(SimCallsSince(calls, 3).size() + SimCallsSince(calls, 15).size(), 0u);
}

TEST_F(DriverTest, SetHostCallbackAnswersThePreviousPointer) {
    auto* other = reinterpret_cast<IBrailleHostCallback*>(&fields);
    EXPECT_EQ(CallSlot<IBrailleHostCallback*>(driver, kSetHostCallback, other), nullptr);
    EXPECT_EQ(CallSlot<IBrailleHostCallback*>(driver, kSetHostCallback,
                                              static_cast<IBrailleHostCallback*>(nullptr)),
              other);
    ASSERT_EQ(driver->Open("COM5", &host, "", ""), 1);
    EXPECT_EQ(CallSlot<IBrailleHostCallback*>(driver, kSetHostCallback, other),
              static_cast<IBrailleHostCallback*>(&host));
    EXPECT_EQ(fields->m_pHostCallback, other);
}

TEST_F(DriverTest, TextCopiesStayInsideBuffersThatEndAtAGuardPage) {
    ASSERT_EQ(driver->Open("COM5", &host, "Braille host text", nullptr), 1);
    struct Case {
        int32_t size;
        int32_t expected;
        const char* text;
    };
    const Case cases[] = {
        {1, 0, ""}, {5, 4, "Lumi"}, {8, 7, "Lumivo1"}, {9, 8, "Lumivo12"}, {10, 8, "Lumivo12"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        GuardedBuffer buffer(static_cast<size_t>(c.size));
        EXPECT_EQ(CallSlot<int32_t>(driver, kGetDisplayName, buffer.data(), c.size), c.expected);
        EXPECT_STREQ(buffer.data(), c.text);
    }
    GuardedBuffer exact(18);
    EXPECT_EQ(driver->GetHostText1(exact.data(), 18), 17);
    EXPECT_STREQ(exact.data(), "Braille host text");
    GuardedBuffer cut(4);
    EXPECT_EQ(driver->GetHostText1(cut.data(), 4), 3);
    EXPECT_STREQ(cut.data(), "Bra");
    GuardedBuffer empty(1);
    EXPECT_EQ(driver->GetHostText2(empty.data(), 1), 0); // a null text is kept as empty
    // No room at all, or no buffer: nothing is written, the answer is 0.
    GuardedBuffer none(0);
    EXPECT_EQ(driver->GetDisplayName(none.data(), 0), 0);
    EXPECT_EQ(driver->GetDisplayName(none.data(), -1), 0);
    EXPECT_EQ(driver->GetHostText1(nullptr, 64), 0);
}

TEST_F(DriverTest, ManufacturerNeedsSixteenBytesAndAGuid) {
    GUID guid{};
    GuardedBuffer exact(16);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetManufacturer, exact.data(), int32_t{16}, &guid), 1);
    EXPECT_STREQ(exact.data(), "Mirel Tactus Co");
    const GUID expected = {
        0x6B1D27A4, 0x93C5, 0x4E0F, {0xA2, 0xD8, 0x51, 0xC7, 0xE9, 0x4B, 0x3F, 0x60}};
    EXPECT_EQ(memcmp(&guid, &expected, sizeof guid), 0);

    GuardedBuffer shorter(15);
    memset(shorter.data(), 'x', 15);
    GUID untouched{};
    EXPECT_EQ(driver->GetManufacturer(shorter.data(), 15, &untouched), 0);
    EXPECT_EQ(std::string(shorter.data(), 15), std::string(15, 'x'));
    EXPECT_EQ(untouched.Data1, 0u);

    char buffer[32];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(driver->GetManufacturer(buffer, 32, nullptr), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(driver->GetManufacturer(nullptr, 32, &untouched), 0);
    EXPECT_EQ(driver->GetManufacturer(buffer, -1, &untouched), 0);
    EXPECT_EQ(untouched.Data1, 0u);
}

constexpr int32_t kZero = 0;
constexpr uint8_t kCells12[12] = {7};

TEST_F(DriverTest, GeometryAndDeviceVersionFollowTheLink) {
    OpenWithoutDisplay();
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetCellCount), 12);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetStatusCellCount), 0);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetTotalCellCount), 12);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetDeviceVersion), 0);
    EXPECT_EQ(SimCountCalls(9), 0); // no link: the library is not asked
    driver->Close();

    SimSetPresent(1);
    SimSetSize(40, 8);
    SimSetDeviceData(1, 0xFE, 2);
    OpenWithDisplay();
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetCellCount), 8);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetTotalCellCount), 8);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetDeviceVersion), 0x01FE02);
    const std::vector<SimCall> asked = SimCallsSince(0, 9);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].threadId, fields->m_workerThreadId); // the worker asks, the host waits
    SimSetResult(9, 0);
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetDeviceVersion), 0);

    // Its answer does not wait for a re-link decided right after its query
    // (a failed write, the host silent past 5 s).
    SimClearResult(9);
    SimQueueResults(3, &kZero, 1);
    driver->WriteCells(kCells12, 12);
    host.Pump(4800);
    SimSetDelay(9, 1000);
    SimSetDelay(15, 1000);
    const LARGE_INTEGER asking = Now();
    EXPECT_EQ(CallSlot<int32_t>(driver, kGetDeviceVersion), 0x01FE02);
    EXPECT_LT(MillisecondsSince(asking), 1800.0);
    SimSetDelay(15, 0);
}

TEST_F(DriverTest, OutputSlotsThroughTheRawTable) {
    OpenWithDisplay();
    const uint8_t cells[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_NE(CallSlot<int32_t>(driver, kWriteCells, cells, int32_t{12}), 0);
    EXPECT_NE(CallSlot<int32_t>(driver, kWriteStatusCells, cells, int32_t{4}), 0);
    ASSERT_TRUE(WaitFor([] { return SimCountCalls(3) == 1; }, 5000));
    uint8_t shown[12] = {};
    SimGetCells(shown, 12);
    EXPECT_EQ(memcmp(shown, cells, 12), 0);
    EXPECT_NE(CallSlot<int32_t>(driver, kClearDisplay), 0);
    ASSERT_TRUE(WaitFor([] { return SimCountCalls(3) == 2; }, 5000));
    SimGetCells(shown, 12);
    EXPECT_EQ(memcmp(shown, std::vector<uint8_t>(12, 0).data(), 12), 0);
    EXPECT_NE(CallSlot<int32_t>(driver, kSetSuspended, int32_t{1}), 0);
    EXPECT_EQ(SimIsLinkOpen(), 0);
    EXPECT_NE(CallSlot<int32_t>(driver, kSetSuspended, int32_t{0}), 0);
    CallSlot<void>(driver, kClose);
    EXPECT_EQ(fields->m_hWorkerThread, nullptr);
    EXPECT_EQ(
        CallSlot<int32_t>(driver, kOpen, "COM5", static_cast<IBrailleHostCallback*>(&host), "", ""),
        1);
}

// Unloading runs the object's unload step, under the loader lock: it marks the
// link down and calls nothing in the device library, even with the link up.
TEST(DriverUnload, CallsNothingInTheDeviceLibrary) {
    SimReset();
    {
        ScreenReaderHost host;
        ASSERT_TRUE(host.Load());
        host.Unload();
    }
    EXPECT_EQ(SimCallCount(), 0);

    ScreenReaderHost host;
    ASSERT_TRUE(host.Load());
    auto* fields = static_cast<CBrailleSampleDriver*>(host.Driver());
    ASSERT_EQ(host.Driver()->Open("COM5", &host, "", ""), 1);
    host.Driver()->Close();
    const int closesBefore = SimCountCalls(2);
    fields->m_linkUp = 1; // as if a host unloaded without closing the link
    const int callsBefore = SimCallCount();
    host.Unload();
    EXPECT_EQ(SimCountCalls(2), closesBefore);
    EXPECT_EQ(SimCallCount(), callsBefore);
    SimReset();
}
