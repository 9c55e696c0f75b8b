// Keys pressed on the simulated display, through the hidden window, to the host.
#include "DriverFixture.h"

#include "KeyExamples.h"

namespace {

// The low 16 bits of the tick count around a delivery.
bool TickBytesMatch(const TypedRecord& record, DWORD before, DWORD after) {
    const unsigned low16 = record.bytes[0] | (record.bytes[2] << 8);
    for (DWORD t = before; t != after + 1; ++t) {
        if ((t & 0xFFFF) == low16)
            return true;
    }
    return false;
}

} // namespace

TEST_F(DriverTest, WorkedExamplesPressedOnTheDisplayReachTheHostExactly) {
    OpenWithDisplay();
    for (const NamedExample& e : kNamedExamples) {
        SCOPED_TRACE(e.name);
        host.ClearRecords();
        Press(e.dots, e.controls, e.routing);
        ASSERT_EQ(host.keys.size(), 1u);
        EXPECT_EQ(host.keys[0].name, e.name);
        EXPECT_EQ(host.keys[0].routingKey, e.routingKey);
        EXPECT_EQ(host.keys[0].threadId, GetCurrentThreadId());
        EXPECT_TRUE(host.typed.empty());
    }
    EXPECT_FALSE(host.wrongDriverSeen);
}

TEST_F(DriverTest, DotChordsAndSpaceAloneAreTypedNeverNamed) {
    OpenWithDisplay();
    const char word[] = "braille";
    for (const char* c = word; *c != '\0'; ++c) {
        const DWORD before = GetTickCount();
        Press(ScreenReaderHost::BrailleCell(*c), 0, 0);
        const DWORD after = GetTickCount();
        ASSERT_FALSE(host.typed.empty());
        const TypedRecord& record = host.typed.back();
        EXPECT_EQ(record.Character(), static_cast<uint8_t>(*c));
        EXPECT_EQ(record.length, 3);
        EXPECT_EQ(record.bytes[3], 0); // the record is followed by a zero byte
        EXPECT_TRUE(TickBytesMatch(record, before, after));
    }
    EXPECT_EQ(host.typed.size(), 7u);
    EXPECT_EQ(host.dotsAsked.size(), 7u);

    host.ClearRecords();
    Press(0, 0x40, 0); // Space alone: typed as a blank, the table is not asked
    ASSERT_EQ(host.typed.size(), 1u);
    EXPECT_EQ(host.typed[0].Character(), 32);
    EXPECT_TRUE(host.dotsAsked.empty());

    host.ClearRecords();
    Press(0xC0, 0, 0); // dots 7 8: the host's table has no character for it
    EXPECT_EQ(host.dotsAsked, std::vector<int32_t>{0xC0});
    EXPECT_TRUE(host.typed.empty());
    EXPECT_TRUE(host.keys.empty());

    host.ClearRecords();
    Press(0, 0, 0); // an event with no keys at all
    EXPECT_TRUE(host.typed.empty() && host.keys.empty() && host.dotsAsked.empty());
}

TEST_F(DriverTest, TheHostsAnswerToAKeyChangesNothing) {
    OpenWithDisplay();
    host.keyPressedResult = 0;
    const std::vector<uint8_t> before = FieldBytes(fields);
    Press(0, 0x02, 0);
    Press(0, 0x02, 0);
    EXPECT_EQ(host.keys.size(), 2u);
    EXPECT_EQ(FieldBytes(fields), before);
}

TEST_F(DriverTest, OnlyTheDriversOwnWindowTurnsMessage1025IntoKeys) {
    OpenWithoutDisplay();
    // Another window of the driver's class is not the notification window.
    HWND other = CreateWindowExA(0, "jQornDriver", "", WS_DISABLED, 0, 0, 0, 0, nullptr, nullptr,
                                 host.Module(), nullptr);
    ASSERT_NE(other, nullptr);
    const uint8_t record[4] = {0, 0x01, 0, 0};
    EXPECT_EQ(SendMessageA(other, 1025, 0, reinterpret_cast<LPARAM>(record)), 0);
    EXPECT_TRUE(host.keys.empty());
    DestroyWindow(other);

    // Null, freed and unmapped records to the driver's window are ignored.
    HWND window = fields->m_hNotifyWindow;
    EXPECT_EQ(SendMessageA(window, 1025, 0, 0), 0);
    void* freed = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    VirtualFree(freed, 0, MEM_RELEASE);
    SendMessageA(window, 1025, 0, reinterpret_cast<LPARAM>(freed));
    SendMessageA(window, 1025, 0, static_cast<LPARAM>(0x10));
    GuardedBuffer twoBytes(2); // a record cut short by an inaccessible page
    twoBytes.data()[0] = 0;
    twoBytes.data()[1] = 0x01;
    SendMessageA(window, 1025, 0, reinterpret_cast<LPARAM>(twoBytes.data()));
    EXPECT_TRUE(host.keys.empty());

    // Other messages to the window behave as for any window.
    EXPECT_EQ(SendMessageA(window, WM_USER + 7, 0, 0), 0);
    EXPECT_EQ(SendMessageA(window, 1025, 0, reinterpret_cast<LPARAM>(record)), 0); // delivered
    ASSERT_EQ(host.keys.size(), 1u);
    EXPECT_EQ(host.keys[0].name, "LeftScroll");
}

TEST_F(DriverTest, WithoutAHostCallbackKeysAreDropped) {
    OpenWithDisplay();
    driver->SetHostCallback(nullptr);
    Press(0, 0x01, 0);
    Press(0x01, 0, 0);
    EXPECT_TRUE(host.keys.empty() && host.typed.empty() && host.dotsAsked.empty());
    driver->SetHostCallback(&host);
    Press(0, 0x01, 0);
    EXPECT_EQ(host.keys.size(), 1u);
}
