// The installer's decisions as plain functions: arguments, where the
// registration tool may lie, and the command it is given.
#include <gtest/gtest.h>

#include "DriverUtilityLocator.h"
#include "InstallerState.h"
#include "RegistrationCommand.h"

namespace {

const std::wstring kHead = L"/type b /action a /d QornDriver /n Qorn /l \"Lumivo 12\" /p ";
const std::wstring kTail = L" /reg QornTI.dll /default";

TEST(InstallerArguments, TakenOnlyWhenBothArePresent) {
    const wchar_t* none[] = {L"QornSetup.exe"};
    const wchar_t* one[] = {L"QornSetup.exe", L"C:\\A\\Shared\\Drivers\\Braille"};
    const wchar_t* two[] = {L"QornSetup.exe", L"first", L"second"};
    const wchar_t* three[] = {L"QornSetup.exe", L"first", L"second", L"third"};
    InstallerState state;
    state.targetFolderArg = L"stale";
    state.drivePrefixArg = L"stale";
    StoreArguments(1, none, state);
    EXPECT_EQ(state.targetFolderArg, L"");
    EXPECT_EQ(state.drivePrefixArg, L"");
    StoreArguments(2, one, state);
    EXPECT_EQ(state.targetFolderArg, L"") << "a single argument is ignored";
    EXPECT_EQ(state.drivePrefixArg, L"");
    StoreArguments(3, two, state);
    EXPECT_EQ(state.targetFolderArg, L"first");
    EXPECT_EQ(state.drivePrefixArg, L"second");
    StoreArguments(4, three, state);
    EXPECT_EQ(state.drivePrefixArg, L"second");
    StoreArguments(3, nullptr, state);
    EXPECT_EQ(state.targetFolderArg, L"");
}

TEST(DriverUtilityCandidates, AllThreeInOrderWithTheUpperCasedDriverFolderPrefix) {
    const auto candidates =
        DriverUtilityCandidates(L"C:\\Program Files\\Freedom Scientific\\Shared\\Drivers\\Braille",
                                L"D:", L"C:\\Program Files");
    ASSERT_EQ(candidates.size(), 3u);
    EXPECT_EQ(candidates[0],
              L"C:\\PROGRAM FILES\\FREEDOM SCIENTIFIC\\Utilities\\DriverUtility.exe");
    EXPECT_EQ(candidates[1],
              L"D:\\Program Files\\Freedom Scientific\\Utilities\\DriverUtility.exe");
    EXPECT_EQ(candidates[2],
              L"C:\\Program Files\\Freedom Scientific\\Utilities\\DriverUtility.exe");
}

TEST(DriverUtilityCandidates, FolderNameInAnyCaseAnywhereInTheFirstArgument) {
    EXPECT_EQ(DriverUtilityCandidates(L"e:\\reader\\sHaReD\\dRiVeRs\\bRaIlLe\\x", L"", L"")[0],
              L"E:\\READER\\Utilities\\DriverUtility.exe");
    EXPECT_EQ(DriverUtilityCandidates(L"shared\\drivers\\braille", L"", L"")[0],
              L"Utilities\\DriverUtility.exe")
        << "at index 0: a path relative to the current directory";
    EXPECT_EQ(DriverUtilityCandidates(L"a\\b\u00e4\\Shared\\Drivers\\Braille", L"", L"")[0],
              L"A\\B\u00e4\\Utilities\\DriverUtility.exe")
        << "only a to z are upper-cased";
}

TEST(DriverUtilityCandidates, EmptySourcesAndMissingFolderNamesAreLeftOut) {
    EXPECT_TRUE(DriverUtilityCandidates(L"", L"", L"").empty());
    const auto noFolder = DriverUtilityCandidates(L"C:\\Shared\\Drivers", L"", L"C:\\PF");
    ASSERT_EQ(noFolder.size(), 1u);
    EXPECT_EQ(noFolder[0], L"C:\\PF\\Freedom Scientific\\Utilities\\DriverUtility.exe");
    const auto secondOnly = DriverUtilityCandidates(L"", L"F:", L"");
    ASSERT_EQ(secondOnly.size(), 1u);
    EXPECT_EQ(secondOnly[0],
              L"F:\\Program Files\\Freedom Scientific\\Utilities\\DriverUtility.exe");
}

DiscoveryResult Found(const std::wstring& deviceId, uint8_t completed = 1) {
    DiscoveryResult result;
    result.completed = completed;
    result.deviceId = deviceId;
    return result;
}

TEST(RegistrationCommand, CarriesTheFoundPortWithOneBlankOnEachSide) {
    EXPECT_EQ(RegistrationCommandLine(true, Found(L"COM12")),
              L"/type b /action a /d QornDriver /n Qorn /l \"Lumivo 12\" /p COM12 /reg "
              L"QornTI.dll /default");
    EXPECT_EQ(RegistrationCommandLine(true, Found(L"com5")), kHead + L"com5" + kTail);
}

TEST(RegistrationCommand, AutoUnlessASearchEndedInTimeWithAPort) {
    const std::wstring automatic = kHead + L"AUTO" + kTail;
    EXPECT_EQ(RegistrationCommandLine(false, Found(L"COM12")), automatic) << "not ended in time";
    EXPECT_EQ(RegistrationCommandLine(true, Found(L"COM12", 0)), automatic) << "failed search";
    EXPECT_EQ(RegistrationCommandLine(true, Found(L"")), automatic) << "ended without a port";
}

TEST(RegistrationCommand, ADeviceIdThatIsNotAPlainNameNeverReachesTheCommand) {
    const std::wstring automatic = kHead + L"AUTO" + kTail;
    const wchar_t* hostile[] = {
        L"COM5 /reg evil.dll", L"COM5\"",     L"\"COM5", L"COM5\t",      L"COM5\n/x",
        L"COM\u00c45",         L"COM5\u3000", L"COM-5",  L"\\\\.\\COM5", L"COM5&calc",
    };
    for (const wchar_t* deviceId : hostile) {
        EXPECT_FALSE(IsPlainPortName(deviceId));
        EXPECT_EQ(RegistrationCommandLine(true, Found(deviceId)), automatic);
    }
    std::wstring withNul(L"COM5");
    withNul.push_back(L'\0');
    withNul += L"x";
    EXPECT_EQ(RegistrationCommandLine(true, Found(withNul)), automatic);
    EXPECT_TRUE(IsPlainPortName(L"COM255"));
    EXPECT_TRUE(IsPlainPortName(L"Com12"));
}

} // namespace
