// The device records stage: which ports the records list, records of odd
// shape, and answers of the system that Wine never gives.
#include <memory>
#include <string>
#include <vector>

#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include "DeviceRecordsStage.h"
#include "DiscoveryFixture.h"
#include "FindDisplayPort.h"
#include "ImportPatch.h"
#include "Parameters.h"

namespace {

class DeviceRecords : public DiscoveryTest {
protected:
    void SetUp() override {
        DiscoveryTest::SetUp();
        AddDevice(L"ZR47-0001", kDisplayAddress);
        // WMI names the display's port differently, to tell which stage answered.
        SimWmiAddPort(L"COM13", DisplayPortIdentity().c_str());
    }
    static std::wstring Search(SearchStages stages = SearchStages::kRecordsThenWmi,
                               int expectedCode = 1) {
        DiscoveryResult result;
        EXPECT_EQ(SearchDisplayPort(result, stages), expectedCode);
        return result.deviceId;
    }
};

TEST_F(DeviceRecords, OddRecordsHaveDefinedAnswers) {
    const struct {
        PortNameForm form;
        const wchar_t* stored;
        const wchar_t* found; // by a search
    } cases[] = {
        {PortNameForm::kUnterminated, L"COM7", L"COM7"},
        {PortNameForm::kOddBytes, L"COM7", L"COM7"},
        {PortNameForm::kText, L"", L"COM13"},
        {PortNameForm::kNumber, L"COM7", L"COM13"},
        {PortNameForm::kNoValue, L"COM7", L"COM13"},
        {PortNameForm::kNoHardwareKey, L"COM7", L"COM13"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.form));
        ASSERT_TRUE(RemoveAllPortRecords());
        ASSERT_TRUE(AddPortRecord(DisplayPortIdentity(), c.stored, c.form));
        EXPECT_EQ(Search(), c.found);
    }
}

// ---- The system's answers, through this program's imports of SetupAPI ----

template <typename Function> Function Real(const wchar_t* module, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(module), name)));
}

struct SetupApiScript {
    bool refuseSet = false;
    DWORD breakListingAt = MAXDWORD;
    DWORD longIdExtraChars = 0; // instance IDs grow by this many characters
    bool idKeepsGrowing = false;
    int setsMade = 0, setsDestroyed = 0, keysOpened = 0, keysClosed = 0, idReads = 0;
} g_api;

HDEVINFO WINAPI GetClassDevs(const GUID* type, PCWSTR enumerator, HWND parent, DWORD flags) {
    if (g_api.refuseSet) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const HDEVINFO set = Real<decltype(&SetupDiGetClassDevsW)>(
        L"setupapi.dll", "SetupDiGetClassDevsW")(type, enumerator, parent, flags);
    g_api.setsMade += set != INVALID_HANDLE_VALUE;
    return set;
}

BOOL WINAPI DestroyList(HDEVINFO set) {
    ++g_api.setsDestroyed;
    return Real<decltype(&SetupDiDestroyDeviceInfoList)>(L"setupapi.dll",
                                                         "SetupDiDestroyDeviceInfoList")(set);
}

BOOL WINAPI EnumDevice(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
    if (index == g_api.breakListingAt) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return Real<decltype(&SetupDiEnumDeviceInfo)>(L"setupapi.dll",
                                                  "SetupDiEnumDeviceInfo")(set, index, device);
}

// As Windows answers for an instance ID longer than Wine keeps: the real ID and
// a tail, after an ERROR_INSUFFICIENT_BUFFER with the size it needs.
BOOL WINAPI GetInstanceId(HDEVINFO set, SP_DEVINFO_DATA* device, PWSTR id, DWORD size,
                          DWORD* required) {
    ++g_api.idReads;
    wchar_t real[MAX_DEVICE_ID_LEN];
    if (!Real<decltype(&SetupDiGetDeviceInstanceIdW)>(
            L"setupapi.dll", "SetupDiGetDeviceInstanceIdW")(set, device, real, MAX_DEVICE_ID_LEN,
                                                            nullptr))
        return FALSE;
    const DWORD extra = g_api.longIdExtraChars * (g_api.idKeepsGrowing ? g_api.idReads : 1);
    const std::wstring full = std::wstring(real) + L"\\" + std::wstring(extra, L'X');
    if (required != nullptr)
        *required = static_cast<DWORD>(full.size() + 1);
    if (size < full.size() + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    wcscpy(id, full.c_str());
    return TRUE;
}

HKEY WINAPI OpenDeviceKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope, DWORD profile,
                          DWORD keyType, REGSAM access) {
    const HKEY key = Real<decltype(&SetupDiOpenDevRegKey)>(L"setupapi.dll", "SetupDiOpenDevRegKey")(
        set, device, scope, profile, keyType, access);
    g_api.keysOpened += key != INVALID_HANDLE_VALUE;
    return key;
}

LSTATUS WINAPI CloseKey(HKEY key) {
    ++g_api.keysClosed;
    return Real<decltype(&RegCloseKey)>(L"advapi32.dll", "RegCloseKey")(key);
}

class SystemAnswers : public DeviceRecords {
protected:
    void SetUp() override {
        DeviceRecords::SetUp();
        ASSERT_TRUE(AddPortRecord(L"ACPI\\PNP0501\\1", L"COM1"));
        ASSERT_TRUE(AddPortRecord(DisplayPortIdentity(), L"COM12"));
        ASSERT_TRUE(AddPortRecord(L"ZZZ\\NO\\PARAMETERS", L"", PortNameForm::kNoHardwareKey));
        g_api = SetupApiScript{};
        const std::pair<const char*, void*> replacements[] = {
            {"SetupDiGetClassDevsW", reinterpret_cast<void*>(&GetClassDevs)},
            {"SetupDiDestroyDeviceInfoList", reinterpret_cast<void*>(&DestroyList)},
            {"SetupDiEnumDeviceInfo", reinterpret_cast<void*>(&EnumDevice)},
            {"SetupDiGetDeviceInstanceIdW", reinterpret_cast<void*>(&GetInstanceId)},
            {"SetupDiOpenDevRegKey", reinterpret_cast<void*>(&OpenDeviceKey)},
        };
        for (const auto& replacement : replacements) {
            patches_.push_back(std::make_unique<ImportPatch>("setupapi.dll", replacement.first,
                                                             replacement.second));
            ASSERT_TRUE(patches_.back()->applied()) << replacement.first;
        }
    }
    // Records are written and removed by this program too: its closes of
    // keys are counted only while a listing runs.
    template <typename Call> void CountingKeyCloses(Call call) {
        ImportPatch closes("advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(&CloseKey));
        ASSERT_TRUE(closes.applied());
        call();
    }
    void TearDown() override {
        patches_.clear();
        DeviceRecords::TearDown();
    }
    std::vector<std::unique_ptr<ImportPatch>> patches_;
};

TEST_F(SystemAnswers, AListingThatFailsTellsNothingAndTheFullSearchAsksWmi) {
    for (int fault = 0; fault < 2; ++fault) {
        SCOPED_TRACE(fault == 0 ? "the set is refused" : "the listing breaks off");
        g_api.refuseSet = fault == 0;
        g_api.breakListingAt = fault == 0 ? MAXDWORD : 1;
        EXPECT_EQ(Search(SearchStages::kRecordsOnly, -1), L"");
        EXPECT_EQ(Search(), L"COM13");
    }
}

TEST_F(SystemAnswers, ALongInstanceIdIsReadAgainWithTheSizeTheSystemAsksFor) {
    g_api.longIdExtraChars = 300;
    EXPECT_EQ(Search(), L"COM12");
    EXPECT_EQ(WmiRecord().locatorsCreated, 0);

    // An ID that grows at every read is passed over after a bounded few.
    g_api = SetupApiScript{};
    g_api.longIdExtraChars = 300;
    g_api.idKeepsGrowing = true;
    EXPECT_EQ(Search(SearchStages::kRecordsOnly), L"");
    EXPECT_EQ(g_api.idReads, 3 * qorn::kRecordReadAttempts) << "three records";
}

TEST_F(SystemAnswers, EveryListingDestroysItsSetAndClosesEveryKeyItOpened) {
    CountingKeyCloses([] {
        EXPECT_EQ(Search(SearchStages::kRecordsOnly), L"COM12");
        EXPECT_EQ(Search(SearchStages::kRecordsOnly), L"COM12");
        EXPECT_EQ(Search(), L"COM12");
        g_api.breakListingAt = 1;
        EXPECT_EQ(Search(), L"COM13");
    });
    EXPECT_EQ(g_api.setsMade, 4);
    EXPECT_EQ(g_api.setsDestroyed, 4);
    EXPECT_GE(g_api.keysOpened, 5);
    EXPECT_EQ(g_api.keysClosed, g_api.keysOpened);
}

} // namespace
