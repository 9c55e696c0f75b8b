// The Bluetooth stage against the simulated Bluetooth API.
#include "BluetoothStage.h"
#include "DiscoveryFixture.h"

namespace {

using BluetoothStage = DiscoveryTest;

constexpr uint8_t kOtherAddress[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};

TEST_F(BluetoothStage, AsksOnlyForAuthenticatedDevicesWithoutInquiry) {
    AddDevice(L"ZR47-0001", kDisplayAddress);
    std::wstring address;
    ASSERT_TRUE(FindDisplayAddress(address));
    EXPECT_EQ(address, kDisplayAddressText);

    BLUETOOTH_DEVICE_SEARCH_PARAMS params;
    memset(&params, 0xCC, sizeof params);
    DWORD deviceInfoSize = 0;
    SimBtLastSearch(&params, &deviceInfoSize);
    EXPECT_EQ(params.dwSize, sizeof(BLUETOOTH_DEVICE_SEARCH_PARAMS));
    EXPECT_EQ(params.fReturnAuthenticated, TRUE);
    EXPECT_EQ(params.fReturnRemembered, FALSE);
    EXPECT_EQ(params.fReturnUnknown, FALSE);
    EXPECT_EQ(params.fReturnConnected, FALSE);
    EXPECT_EQ(params.fIssueInquiry, FALSE);
    EXPECT_EQ(params.cTimeoutMultiplier, 0);
    EXPECT_EQ(params.hRadio, nullptr);
    EXPECT_EQ(deviceInfoSize, sizeof(BLUETOOTH_DEVICE_INFO));
    EXPECT_EQ(SimBtSearchesOpen(), 0) << "the search handle is closed";
}

TEST_F(BluetoothStage, TakesTheFirstQualifyingDeviceAndLooksNoFurther) {
    AddDevice(L"Headset", kOtherAddress);
    AddDevice(L"ZR47-", kOtherAddress);
    AddDevice(L"zr47-0009", kOtherAddress);
    AddDevice(L"ZR47-0001", kDisplayAddress);
    AddDevice(L"ZR47-0002", kOtherAddress);
    AddDevice(L"Keyboard", kOtherAddress);
    std::wstring address;
    ASSERT_TRUE(FindDisplayAddress(address));
    EXPECT_EQ(address, kDisplayAddressText);
    EXPECT_EQ(SimBtDevicesHandedOut(), 4) << "devices after the display are not looked at";
    EXPECT_EQ(SimBtSearchesOpen(), 0);
}

TEST_F(BluetoothStage, ADisplayThatIsOnlyRememberedOrConnectedIsNotListed) {
    AddDevice(L"ZR47-0002", kOtherAddress, kSimBtRemembered | kSimBtConnected);
    AddDevice(L"ZR47-0001", kDisplayAddress);
    std::wstring address;
    ASSERT_TRUE(FindDisplayAddress(address));
    EXPECT_EQ(address, kDisplayAddressText);
}

TEST_F(BluetoothStage, AuthenticatedDevicesButNoDisplayLeaveTheAddressEmpty) {
    AddDevice(L"Headset", kOtherAddress);
    AddDevice(L"ZR47-", kDisplayAddress);
    std::wstring address;
    EXPECT_TRUE(FindDisplayAddress(address));
    EXPECT_EQ(address, L"");
    EXPECT_EQ(SimBtDevicesHandedOut(), 2);
    EXPECT_EQ(SimBtSearchesOpen(), 0);
}

TEST_F(BluetoothStage, NoSearchWithoutAuthenticatedDeviceOrRadio) {
    std::wstring address;
    EXPECT_FALSE(FindDisplayAddress(address)) << "no device at all";
    AddDevice(L"ZR47-0001", kDisplayAddress, kSimBtRemembered);
    EXPECT_FALSE(FindDisplayAddress(address)) << "display paired but not authenticated";
    AddDevice(L"ZR47-0002", kDisplayAddress);
    SimBtSetRadio(0);
    EXPECT_FALSE(FindDisplayAddress(address)) << "no radio";
    EXPECT_EQ(address, L"");
}

} // namespace
