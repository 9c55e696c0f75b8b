// A host with the real QornDriver.jlb loaded the way the screen reader loads it,
// on a fresh simulated display. Each test gets a freshly loaded driver object.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "SampleDriver.h"
#include "ScreenReaderHost.h"
#include "TestSupport.h"

// Calls slot n of the driver's table directly, as a host that knows only the
// table's positions does.
template <typename Result, typename... Args>
Result CallSlot(IBrailleDriver* driver, int slot, Args... args) {
    using Fn = Result (*)(IBrailleDriver*, Args...);
    void** table = *reinterpret_cast<void***>(driver);
    return reinterpret_cast<Fn>(table[slot])(driver, args...);
}

// The bytes of the driver's own fields (the listed ones, table pointer excluded).
inline std::vector<uint8_t> FieldBytes(const CBrailleSampleDriver* driver) {
    const auto* first = reinterpret_cast<const uint8_t*>(&driver->m_opened);
    const auto* end = reinterpret_cast<const uint8_t*>(&driver->m_windowClassName + 1);
    return std::vector<uint8_t>(first, end);
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        SimReset();
        SimSetLogService(0);
        ASSERT_TRUE(host.Load()) << "QornDriver.jlb did not load";
        driver = host.Driver();
        fields = static_cast<CBrailleSampleDriver*>(driver);
    }
    void TearDown() override {
        if (driver != nullptr)
            driver->Close();
        host.Unload();
        SimReset();
    }

    // Opens on a display that is there; returns once the link is up (about 1 s).
    void OpenWithDisplay(const char* port = "COM5") {
        ASSERT_EQ(driver->Open(port, &host, "", ""), 1);
        ASSERT_EQ(fields->m_linkUp, 1);
    }
    // Opens with no display reachable: the link stays down, at once.
    void OpenWithoutDisplay(const char* port = "COM5") {
        SimSetPresent(0);
        ASSERT_EQ(driver->Open(port, &host, "", ""), 1);
        ASSERT_EQ(fields->m_linkUp, 0);
    }
    // Presses a key on the display and serves the host's messages until the
    // display has delivered it.
    void Press(uint8_t dots, uint8_t controls, uint8_t routing) {
        const int before = SimKeysDelivered();
        SimPressKey(dots, controls, routing);
        ASSERT_TRUE(host.PumpUntil([&] { return SimKeysDelivered() > before; }, 5000));
    }

    ScreenReaderHost host;
    IBrailleDriver* driver = nullptr;
    CBrailleSampleDriver* fields = nullptr;
};
