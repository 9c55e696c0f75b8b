// The Bluetooth stage against the simulated Bluetooth API, which lies in the
// prefix's system32 like the system's own.
#include <cwctype>

#include "BluetoothApi.h"
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

std::wstring LowerCase(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

std::wstring FolderOf(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    const std::wstring file(path);
    return LowerCase(file.substr(0, file.find_last_of(L'\\')));
}

TEST_F(BluetoothStage, TheApiComesFromSystem32AndIsTheModuleThisTestScripts) {
    const SystemBluetoothLibrary library;
    ASSERT_NE(library.module(), nullptr);
    EXPECT_TRUE(library.api().complete());
    EXPECT_EQ(library.module(), GetModuleHandleW(L"bluetoothapis.dll"));
    wchar_t system32[MAX_PATH] = {};
    GetSystemDirectoryW(system32, MAX_PATH);
    EXPECT_EQ(FolderOf(library.module()), LowerCase(system32));
}

TEST_F(BluetoothStage, ALibraryOnlyBesideTheProgramIsNotLoaded) {
    // Any DLL will do: the planted stand-in (it leaves no mark here), under a
    // name of its own.
    const std::wstring bin = FolderOf(nullptr) + L"\\";
    const std::wstring beside = bin + L"qorn-only-beside.dll";
    ASSERT_TRUE(CopyFileW((bin + L"..\\planted\\uxtheme.dll").c_str(), beside.c_str(), FALSE));
    const HMODULE byDefaultSearch = LoadLibraryW(L"qorn-only-beside.dll");
    EXPECT_NE(byDefaultSearch, nullptr) << "the default search takes the program's folder";
    if (byDefaultSearch != nullptr)
        FreeLibrary(byDefaultSearch);
    {
        const SystemBluetoothLibrary library(L"qorn-only-beside.dll");
        EXPECT_EQ(library.module(), nullptr);
        EXPECT_FALSE(library.api().complete());
    }
    DeleteFileW(beside.c_str());
}

TEST_F(BluetoothStage, AMissingApiOrFunctionFindsNoDisplayAndStartsNoSearch) {
    AddDevice(L"ZR47-0001", kDisplayAddress);
    const SystemBluetoothLibrary missing(L"qorn-no-such-bluetooth.dll");
    const SystemBluetoothLibrary lacking(L"kernel32.dll"); // loads, but has none of them
    EXPECT_EQ(missing.module(), nullptr);
    EXPECT_NE(lacking.module(), nullptr);
    const SystemBluetoothLibrary whole;
    BluetoothApi noNext = whole.api();
    noNext.findNextDevice = nullptr;
    BluetoothApi noClose = whole.api();
    noClose.findDeviceClose = nullptr;
    const BluetoothApi* const incomplete[] = {&missing.api(), &lacking.api(), &noNext, &noClose};
    for (const BluetoothApi* api : incomplete) {
        std::wstring address;
        EXPECT_FALSE(FindDisplayAddress(*api, address));
        EXPECT_EQ(address, L"");
    }
    EXPECT_EQ(SimBtSearchesStarted(), 0);
    std::wstring address;
    EXPECT_TRUE(FindDisplayAddress(whole.api(), address));
    EXPECT_EQ(address, kDisplayAddressText);
}

} // namespace
