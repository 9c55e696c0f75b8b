// Tests of the search against the simulated Bluetooth API and WMI, and the
// device records Wine's own SetupAPI lists from the test prefix's registry.
#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "PortRecords.h"
#include "SimulatedBluetooth.h"
#include "SimulatedWmi.h"

// 12:34:56:78:9A:BC, least significant byte first as Windows stores it.
constexpr uint8_t kDisplayAddress[6] = {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};
constexpr wchar_t kDisplayAddressText[] = L"123456789ABC";

// How Windows names the serial port of a paired device: the address at 74.
inline std::wstring DisplayPortIdentity(const std::wstring& address = kDisplayAddressText) {
    return BluetoothPortId(address);
}

inline void AddDevice(const wchar_t* name, const uint8_t (&address)[6],
                      int flags = kSimBtAuthenticated) {
    SimBtAddDevice(name, address, flags);
}

inline SimWmiRecord WmiRecord() {
    SimWmiRecord record;
    SimWmiGetRecord(&record);
    return record;
}

class DiscoveryTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The locator class now leads to the stand-in in this prefix.
        ASSERT_EQ(SimWmiInstall(), 1);
    }
    void SetUp() override {
        SimBtReset();
        SimWmiReset();
        ASSERT_TRUE(RemoveAllPortRecords());
    }
    // The records are the prefix's: no other test or program may find them.
    void TearDown() override { EXPECT_TRUE(RemoveAllPortRecords()); }
};
