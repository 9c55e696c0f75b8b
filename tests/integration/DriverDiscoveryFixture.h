// The real driver with Open("AUTO") searching the simulated Bluetooth API and
// WMI: a display paired at 12:34:56:78:9A:BC and the serial ports Windows lists.
#pragma once

#include <string>

#include "DriverFixture.h"
#include "SimulatedBluetooth.h"
#include "SimulatedWmi.h"

// 12:34:56:78:9A:BC, least significant byte first as Windows stores it.
constexpr uint8_t kDisplayAddress[6] = {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};

// How Windows names the serial port of that display: its address at index 74.
inline const std::wstring kDisplayPortPnp =
    L"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1D80ECD3&0&"
    L"123456789ABC_C00000000";

inline void PairDisplay() {
    SimBtAddDevice(L"ZR47-0001", kDisplayAddress, kSimBtAuthenticated);
}

// A built-in port, then the display's port under the given name.
inline void ListDisplayPort(const wchar_t* port) {
    SimWmiReset();
    SimWmiAddPort(L"COM3", L"ACPI\\PNP0501\\0");
    SimWmiAddPort(port, kDisplayPortPnp.c_str());
}

class DriverDiscoveryTest : public DriverTest {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(SimWmiInstall(), 1); }
    void SetUp() override {
        DriverTest::SetUp();
        SimBtReset();
        SimWmiReset();
        SimSetPresent(0); // no link-up pause: these tests are about the port text
    }
    void TearDown() override {
        DriverTest::TearDown();
        SimBtReset();
        SimWmiUseSystemWmi();
    }
};
