// The real driver with Open("AUTO") searching the simulated Bluetooth API, the
// device records in the prefix's registry and the simulated WMI: a display
// paired at 12:34:56:78:9A:BC and the serial ports Windows lists.
#pragma once

#include <string>
#include <utility>

#include "DriverFixture.h"
#include "PortRecords.h"
#include "SimulatedBluetooth.h"
#include "SimulatedWmi.h"

// 12:34:56:78:9A:BC, least significant byte first as Windows stores it.
constexpr uint8_t kDisplayAddress[6] = {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};

// How Windows names the serial port of that display: its address at index 74.
inline const std::wstring kDisplayPortPnp = BluetoothPortId(L"123456789ABC");

inline void PairDisplay() {
    SimBtAddDevice(L"ZR47-0001", kDisplayAddress, kSimBtAuthenticated);
}

// A built-in port, then the display's port under the given name.
inline void ListDisplayPort(const wchar_t* port) {
    SimWmiReset();
    SimWmiAddPort(L"COM3", L"ACPI\\PNP0501\\0");
    SimWmiAddPort(port, kDisplayPortPnp.c_str());
}

// WMI lists, before the display's port, three Bluetooth ports of other devices
// (a phone, a headset, an incoming port), which the records list too, and
// takes 3 s for each Bluetooth port, the display's too: 12 s in all, as
// Windows' WMI does when it opens ports whose devices are off or out of range.
inline void ListSlowBluetoothPorts(const wchar_t* displayPort) {
    SimWmiReset();
    const std::pair<const wchar_t*, std::wstring> others[] = {
        {L"COM20", BluetoothPortId(L"A0B1C2D3E4F5")},
        {L"COM21", BluetoothPortId(L"0022446688AA")},
        {L"COM22", BluetoothPortId(L"000000000000", L"000000000")},
    };
    for (const auto& other : others) {
        SimWmiAddPort(other.first, other.second.c_str());
        EXPECT_TRUE(AddPortRecord(other.second, other.first));
    }
    SimWmiAddPort(displayPort, kDisplayPortPnp.c_str());
    SimWmiSetBluetoothPortDelay(3000);
}

class DriverDiscoveryTest : public DriverTest {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(SimWmiInstall(), 1); }
    void SetUp() override {
        DriverTest::SetUp();
        SimBtReset();
        SimWmiReset();
        SimSetPresent(0); // no link-up pause: these tests are about the port text
        ASSERT_TRUE(RemoveAllPortRecords());
    }
    void TearDown() override {
        DriverTest::TearDown();
        SimBtReset();
        SimWmiUseSystemWmi();
        EXPECT_TRUE(RemoveAllPortRecords());
    }
};
