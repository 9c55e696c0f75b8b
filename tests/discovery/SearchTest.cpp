// One whole search, Bluetooth then the device records then WMI, on the
// calling thread.
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#define _WIN32_DCOM
#include <wbemidl.h>

#include "DiscoveryFixture.h"
#include "FindDisplayPort.h"
#include "ImportPatch.h"
#include "TestSupport.h"

namespace {

class Search : public DiscoveryTest {
protected:
    void SetUp() override {
        DiscoveryTest::SetUp();
        AddDevice(L"ZR47-0001", kDisplayAddress);
    }
};

// A thread that has left COM completely can join the single-threaded
// apartment afresh; one still in the multithreaded apartment cannot.
bool ComLeftByThisThread() {
    const HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(result))
        CoUninitialize();
    return result == S_OK;
}

void ExpectFailedWithoutLeftovers(int code, const DiscoveryResult& result) {
    EXPECT_EQ(code, -1);
    EXPECT_EQ(result.completed, 0);
    EXPECT_EQ(WmiRecord().liveObjects, 0) << "every WMI interface is released";
    EXPECT_TRUE(ComLeftByThisThread()) << "COM is uninitialised";
}

TEST_F(Search, FindsTheDisplaysPortThroughTheExactWmiCalls) {
    SimWmiAddPort(L"COM3", L"ACPI\\PNP0501\\1");
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    DiscoveryResult result;
    EXPECT_EQ(SearchDisplayPort(result), 1);
    EXPECT_EQ(result.completed, 1);
    EXPECT_EQ(result.deviceId, L"COM12");
    EXPECT_STREQ(result.portName, "COM12");

    const SimWmiRecord wmi = WmiRecord();
    EXPECT_EQ(wmi.locatorsCreated, 1);
    EXPECT_STREQ(wmi.connectNamespace, L"ROOT\\CIMV2");
    EXPECT_EQ(wmi.connectExtras, 0);
    EXPECT_EQ(wmi.blankets, 1);
    EXPECT_EQ(wmi.blanketAuthn, static_cast<DWORD>(RPC_C_AUTHN_WINNT));
    EXPECT_EQ(wmi.blanketAuthz, static_cast<DWORD>(RPC_C_AUTHZ_NONE));
    EXPECT_EQ(wmi.blanketAuthnLevel, static_cast<DWORD>(RPC_C_AUTHN_LEVEL_CALL));
    EXPECT_EQ(wmi.blanketImpLevel, static_cast<DWORD>(RPC_C_IMP_LEVEL_IMPERSONATE));
    EXPECT_EQ(wmi.blanketCapabilities, static_cast<DWORD>(EOAC_NONE));
    EXPECT_EQ(wmi.blanketExtras, 0);
    EXPECT_STREQ(wmi.queryLanguage, L"WQL");
    EXPECT_STREQ(wmi.queryText, L"SELECT * FROM Win32_SerialPort");
    EXPECT_EQ(wmi.queryFlags, 0x30);
    EXPECT_EQ(wmi.queryContextGiven, 0);
    EXPECT_EQ(wmi.nextTimeout, static_cast<LONG>(WBEM_INFINITE));
    EXPECT_EQ(wmi.nextCount, 1u);
    EXPECT_EQ(wmi.gets, 4);
    EXPECT_EQ(wmi.getExtras, 0);
    EXPECT_EQ(wmi.liveObjects, 0);
    EXPECT_TRUE(ComLeftByThisThread());
}

TEST_F(Search, StopsAtThePortWithTheAddressAtIndex74) {
    SimWmiAddPort(L"COM4", L"X-123456789abc");
    SimWmiAddPort(L"com8", DisplayPortIdentity(L"123456789abc").c_str());
    SimWmiAddPort(L"COM9", L"X-123456789ABC");
    DiscoveryResult result;
    EXPECT_EQ(SearchDisplayPort(result), 1);
    EXPECT_EQ(result.deviceId, L"com8") << "lower case on both sides, DeviceID as given";
    EXPECT_EQ(WmiRecord().portsHandedOut, 2) << "ports after the final one are not fetched";
    EXPECT_EQ(WmiRecord().liveObjects, 0);
}

TEST_F(Search, WithoutIndex74TheLaterListedPortWins) {
    SimWmiAddPort(L"COM4", L"SHORT\\123456789ABC");
    SimWmiAddPort(L"COM6", L"ACPI\\PNP0501\\1");
    SimWmiAddPort(L"COM5", L"ALSO\\SHORT\\123456789ABC\\1");
    DiscoveryResult result;
    EXPECT_EQ(SearchDisplayPort(result), 1);
    EXPECT_EQ(result.deviceId, L"COM5");
    EXPECT_STREQ(result.portName, "COM5");
}

TEST_F(Search, DisplayWithoutPortCompletesEmptyAndKeepsTheEarlierPortName) {
    SimWmiAddPort(L"COM3", DisplayPortIdentity(L"AABBCCDDEEFF").c_str());
    DiscoveryResult result;
    strcpy(result.portName, "COM9");
    EXPECT_EQ(SearchDisplayPort(result), 1);
    EXPECT_EQ(result.completed, 1);
    EXPECT_EQ(result.deviceId, L"");
    EXPECT_STREQ(result.portName, "COM9");
}

TEST_F(Search, NoDisplayAmongTheDevicesYieldsNoPortAtAll) {
    SimBtReset();
    AddDevice(L"Headset", kDisplayAddress);
    SimWmiAddPort(L"COM3", L"ACPI\\PNP0501\\1");
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    DiscoveryResult result;
    EXPECT_EQ(SearchDisplayPort(result), 1);
    EXPECT_EQ(result.completed, 1);
    EXPECT_EQ(result.deviceId, L"");
    EXPECT_STREQ(result.portName, "");
}

TEST_F(Search, NoAuthenticatedDeviceEndsBeforeAnyWmiCall) {
    SimBtReset();
    AddDevice(L"ZR47-0001", kDisplayAddress, kSimBtRemembered);
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    DiscoveryResult result;
    EXPECT_EQ(SearchDisplayPort(result), -1);
    EXPECT_EQ(result.completed, 0);
    EXPECT_EQ(WmiRecord().locatorsCreated, 0);
    EXPECT_TRUE(ComLeftByThisThread());
}

TEST_F(Search, PortsWithoutTextIdentitiesArePassedOver) {
    const std::wstring display = DisplayPortIdentity();
    SimWmiAddPort(L"COM2", L"X\\123456789ABC");
    SimWmiAddOddPort(kSimWmiNull, L"", kSimWmiText, display.c_str());
    SimWmiAddOddPort(kSimWmiMissing, L"", kSimWmiText, display.c_str());
    SimWmiAddOddPort(kSimWmiNumber, L"", kSimWmiText, display.c_str());
    SimWmiAddOddPort(kSimWmiText, L"", kSimWmiText, display.c_str());
    SimWmiAddOddPort(kSimWmiText, L"COM20", kSimWmiNull, L"");
    SimWmiAddOddPort(kSimWmiText, L"COM21", kSimWmiMissing, L"");
    SimWmiAddOddPort(kSimWmiText, L"COM22", kSimWmiNumber, L"");
    DiscoveryResult result;
    EXPECT_EQ(SearchDisplayPort(result), 1);
    EXPECT_EQ(result.deviceId, L"COM2");
    EXPECT_EQ(WmiRecord().portsHandedOut, 8);
    EXPECT_EQ(WmiRecord().liveObjects, 0);
}

TEST_F(Search, EachWmiFailureEndsTheSearchAndReleasesWhatWasTaken) {
    const struct {
        SimWmiStep step;
        int connects, blankets, queries;
    } steps[] = {
        {kSimWmiCreateLocator, 0, 0, 0},
        {kSimWmiConnect, 1, 0, 0},
        {kSimWmiBlanket, 1, 1, 0},
        {kSimWmiQuery, 1, 1, 1},
    };
    for (const auto& s : steps) {
        SimWmiReset();
        SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
        SimWmiFailAt(s.step, WBEM_E_ACCESS_DENIED);
        DiscoveryResult result;
        ExpectFailedWithoutLeftovers(SearchDisplayPort(result), result);
        const SimWmiRecord wmi = WmiRecord();
        EXPECT_EQ(wmi.connects, s.connects) << "step " << s.step;
        EXPECT_EQ(wmi.blankets, s.blankets) << "step " << s.step;
        EXPECT_EQ(wmi.queries, s.queries) << "step " << s.step;
        EXPECT_EQ(result.deviceId, L"");
    }
}

TEST_F(Search, APortNameThatDoesNotFitFailsTheSearch) {
    const std::wstring longName(30, L'C');
    SimWmiAddPort(longName.c_str(), DisplayPortIdentity().c_str());
    DiscoveryResult result;
    strcpy(result.portName, "COM9");
    ExpectFailedWithoutLeftovers(SearchDisplayPort(result), result);
    EXPECT_STREQ(result.portName, "COM9");
}

TEST_F(Search, ALaterSearchReplacesTheEarlierPortNameWhole) {
    DiscoveryResult result;
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    ASSERT_EQ(SearchDisplayPort(result), 1);
    SimWmiReset();
    SimWmiAddPort(L"COM5", DisplayPortIdentity().c_str());
    ASSERT_EQ(SearchDisplayPort(result), 1);
    const char expected[qorn::kDiscoveredPortSize] = "COM5";
    EXPECT_EQ(memcmp(result.portName, expected, sizeof expected), 0);
}

TEST_F(Search, AThreadAlreadyInTheSingleThreadedApartmentCannotSearch) {
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    int code = 0;
    DiscoveryResult result;
    HRESULT stillThere = E_FAIL;
    std::thread apartmentThread([&] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        code = SearchDisplayPort(result);
        // The thread's own apartment is untouched by the failed search.
        stillThere = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        CoUninitialize();
        CoUninitialize();
    });
    apartmentThread.join();
    EXPECT_EQ(code, -1);
    EXPECT_EQ(result.completed, 0);
    EXPECT_EQ(stillThere, S_FALSE);
    EXPECT_EQ(WmiRecord().locatorsCreated, 0);
}

TEST_F(Search, FindsNoPortThroughTheSystemsOwnWmi) {
    // Wine's WMI answers the real call sequence but lists no serial port.
    SimWmiUseSystemWmi();
    DiscoveryResult result;
    EXPECT_EQ(SearchDisplayPort(result), 1);
    EXPECT_EQ(result.completed, 1);
    EXPECT_EQ(result.deviceId, L"");
    EXPECT_EQ(WmiRecord().locatorsCreated, 0) << "the stand-in was not used";
    EXPECT_TRUE(ComLeftByThisThread());
}

// Four Bluetooth ports of other devices (one of them incoming) and a built-in
// one, as both the records and WMI list them.
const struct {
    const wchar_t* port;
    std::wstring id;
} kOtherPorts[] = {
    {L"COM1", L"ACPI\\PNP0501\\1"},
    {L"COM20", BluetoothPortId(L"A0B1C2D3E4F5")},
    {L"COM21", BluetoothPortId(L"0022446688AA")},
    {L"COM22", BluetoothPortId(L"665544332211")},
    {L"COM23", BluetoothPortId(L"000000000000", L"000000000")},
};

TEST_F(Search, TheDisplaysRecordAnswersAtOnceWhereWmiWouldOpenEveryBluetoothPort) {
    for (const auto& other : kOtherPorts) {
        ASSERT_TRUE(AddPortRecord(other.id, other.port));
        SimWmiAddPort(other.port, other.id.c_str());
    }
    ASSERT_TRUE(AddPortRecord(DisplayPortIdentity(), L"COM12"));
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    SimWmiSetBluetoothPortDelay(3000); // 12 s for WMI to list the four
    DiscoveryResult result;
    int code = 0;
    const double ms = Timed([&] { code = SearchDisplayPort(result); });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(result.completed, 1);
    EXPECT_EQ(result.deviceId, L"COM12");
    EXPECT_STREQ(result.portName, "COM12");
    EXPECT_LT(ms, 1500.0);
    EXPECT_EQ(WmiRecord().locatorsCreated, 0) << "no WMI query";
}

// The rules of the choice through the records; WMI lists the display's port as
// COM12 and an incoming port, and is asked only when no record carries the
// address.
TEST_F(Search, TheChoiceRulesHoldThroughTheDeviceRecords) {
    const uint8_t kZeroAddress[6] = {};
    const std::wstring longName(30, L'C');
    const struct Case {
        const char* what;
        std::vector<std::pair<std::wstring, std::wstring>> records; // ID, port, as listed
        const uint8_t (*address)[6];
        int code;
        const wchar_t* port;
        int wmiQueries;
    } cases[] = {
        {"address at index 74 ends the search; lower-case ID, port name's own case",
         {{L"AAA\\SHORT\\123456789ABC", L"COM4"},
          {DisplayPortIdentity(L"123456789abc"), L"com8"},
          {L"ZZZ\\LATER\\X-123456789ABC", L"COM9"}},
         &kDisplayAddress,
         1,
         L"com8",
         0},
        {"without index 74 the later record wins",
         {{L"AAA\\SHORT\\123456789ABC", L"COM4"},
          {L"MMM\\OTHER\\1", L"COM6"},
          {L"ZZZ\\ALSO\\123456789ABC_1", L"COM5"}},
         &kDisplayAddress,
         1,
         L"COM5",
         0},
        {"a 30-character port name is refused",
         {{DisplayPortIdentity(), longName}},
         &kDisplayAddress,
         -1,
         L"",
         0},
        {"an incoming port is not the display's: WMI is asked",
         {{BluetoothPortId(L"000000000000", L"000000000"), L"COM4"}},
         &kDisplayAddress,
         1,
         L"COM12",
         1},
        {"nor is it for a device with an all-zero address",
         {{BluetoothPortId(L"000000000000", L"000000000"), L"COM4"}},
         &kZeroAddress,
         1,
         L"",
         1},
        {"records of other ports only: WMI finds the port as before",
         {{kOtherPorts[0].id, kOtherPorts[0].port}, {kOtherPorts[1].id, kOtherPorts[1].port}},
         &kDisplayAddress,
         1,
         L"COM12",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimBtReset();
        AddDevice(L"ZR47-0001", *c.address);
        SimWmiReset();
        SimWmiAddPort(L"COM40", kOtherPorts[4].id.c_str());
        SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
        ASSERT_TRUE(RemoveAllPortRecords());
        for (const auto& record : c.records)
            ASSERT_TRUE(AddPortRecord(record.first, record.second));
        DiscoveryResult result;
        strcpy(result.portName, "COM99");
        EXPECT_EQ(SearchDisplayPort(result), c.code);
        EXPECT_EQ(result.completed, c.code == 1 ? 1 : 0);
        if (c.code == 1) {
            EXPECT_EQ(result.deviceId, c.port);
        }
        const std::string narrow(c.port, c.port + wcslen(c.port));
        EXPECT_STREQ(result.portName, narrow.empty() ? "COM99" : narrow.c_str());
        EXPECT_EQ(WmiRecord().queries, c.wmiQueries);
    }
}

TEST_F(Search, ARecordsOnlySearchNeverAsksWmi) {
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    ASSERT_TRUE(AddPortRecord(kOtherPorts[1].id, kOtherPorts[1].port));
    DiscoveryResult none;
    EXPECT_EQ(SearchDisplayPort(none, SearchStages::kRecordsOnly), 1);
    EXPECT_EQ(none.completed, 1);
    EXPECT_EQ(none.deviceId, L"");

    ASSERT_TRUE(AddPortRecord(DisplayPortIdentity(), L"COM7"));
    DiscoveryResult found;
    EXPECT_EQ(SearchDisplayPort(found, SearchStages::kRecordsOnly), 1);
    EXPECT_EQ(found.deviceId, L"COM7");
    EXPECT_STREQ(found.portName, "COM7");
    EXPECT_EQ(WmiRecord().locatorsCreated, 0);
}

// COM security as a host process may or may not have set it.
struct SecurityCall {
    HRESULT answer = S_OK;
    int calls = 0;
} g_security;

HRESULT WINAPI AnswerSecurity(PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*,
                              DWORD, DWORD, void*, DWORD, void*) {
    ++g_security.calls;
    return g_security.answer;
}

// Taking its address keeps CoInitializeSecurity among this program's imports,
// in the slot through which a call of the (statically linked) search would go.
const volatile auto g_keepSecurityImport = &CoInitializeSecurity;

TEST_F(Search, LeavesTheProcesssComSecurityToItsProgram) {
    ASSERT_NE(g_keepSecurityImport, nullptr);
    SimWmiAddPort(L"COM12", DisplayPortIdentity().c_str());
    ImportPatch patch("ole32.dll", "CoInitializeSecurity",
                      reinterpret_cast<void*>(&AnswerSecurity));
    ASSERT_TRUE(patch.applied());
    // A host whose own call would now fail (RPC_E_TOO_LATE) or that refuses
    // security altogether: the search neither asks nor cares.
    for (HRESULT answer : {RPC_E_TOO_LATE, E_ACCESSDENIED}) {
        g_security = SecurityCall{answer};
        DiscoveryResult found;
        EXPECT_EQ(SearchDisplayPort(found), 1);
        EXPECT_EQ(found.deviceId, L"COM12");
        EXPECT_EQ(g_security.calls, 0);
    }
    EXPECT_EQ(WmiRecord().blankets, 2) << "impersonation is still asked on each proxy";
}

} // namespace
