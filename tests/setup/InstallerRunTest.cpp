// The real QornSetup.exe under Wine: which tool it starts, with which command.
#include "InstallerRun.h"

namespace {

using Installer = InstallerRun;

TEST_F(Installer, RegistersTheFoundPort) {
    PlaceTool(root_ + L"\\Reader\\Utilities\\DriverUtility.exe");
    const auto outcome = Run({root_ + L"\\Reader\\Shared\\Drivers\\Braille", root_ + L"\\None"});
    ExpectQuietSuccess(outcome);
    const auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0],
              ToolCommandLine(UpperCased(root_ + L"\\Reader\\") + L"Utilities\\DriverUtility.exe",
                              L"COM12"));
    EXPECT_NE(started[0].find(L" /p COM12 /reg QornTI.dll /default"), std::wstring::npos);
}

TEST_F(Installer, NoAuthenticatedDeviceRegistersAutomaticSelection) {
    ScriptBluetooth("device remembered,connected 12:34:56:78:9A:BC ZR47-0001\n");
    PlaceTool(ProgramFilesTool());
    ExpectQuietSuccess(Run({}));
    const auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], ToolCommandLine(ProgramFilesTool(), L"AUTO"));
}

TEST_F(Installer, DisplayWithoutPortRegistersAutomaticSelection) {
    ScriptSerialPorts(DisplayPort(L"COM3", L"AABBCCDDEEFF") + L"port\tCOM1\tACPI\\PNP0501\\1\n");
    PlaceTool(ProgramFilesTool());
    ExpectQuietSuccess(Run({}));
    const auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], ToolCommandLine(ProgramFilesTool(), L"AUTO"));
}

TEST_F(Installer, HostileDeviceIdRegistersAutomaticSelection) {
    ScriptSerialPorts(DisplayPort(L"COM5 /reg \"x.dll"));
    PlaceTool(ProgramFilesTool());
    ExpectQuietSuccess(Run({}));
    const auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], ToolCommandLine(ProgramFilesTool(), L"AUTO"));
}

TEST_F(Installer, FolderNameInMixedCaseGivesTheUpperCasedPrefix) {
    PlaceTool(root_ + L"\\Mixed\\Utilities\\DriverUtility.exe");
    PlaceTool(ProgramFilesTool());
    ExpectQuietSuccess(Run({root_ + L"\\Mixed\\sHaReD\\dRiVeRs\\bRaIlLe", L"Q:"}));
    const auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0],
              ToolCommandLine(UpperCased(root_ + L"\\MIXED\\") + L"Utilities\\DriverUtility.exe",
                              L"COM12"));
}

TEST_F(Installer, FolderNameAtTheStartMeansTheCurrentDirectory) {
    const std::wstring current = root_ + L"\\Current";
    PlaceTool(current + L"\\Utilities\\DriverUtility.exe");
    ExpectQuietSuccess(Run({L"Shared\\Drivers\\Braille", root_ + L"\\None"}, current));
    const auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], ToolCommandLine(L"Utilities\\DriverUtility.exe", L"COM12"));
}

TEST_F(Installer, FirstArgumentWinsOverSecondAndSecondOverTheSystemFolder) {
    PlaceTool(root_ + L"\\A\\Utilities\\DriverUtility.exe");
    const std::wstring second =
        PlaceTool(root_ + L"\\B\\Program Files\\Freedom Scientific\\Utilities\\DriverUtility.exe");
    PlaceTool(ProgramFilesTool());
    ExpectQuietSuccess(Run({root_ + L"\\A\\Shared\\Drivers\\Braille", root_ + L"\\B"}));
    auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(
        started[0],
        ToolCommandLine(UpperCased(root_ + L"\\A\\") + L"Utilities\\DriverUtility.exe", L"COM12"));

    DeleteFileW(log_.c_str());
    ExpectQuietSuccess(Run({root_ + L"\\A\\Shared\\Drivers", root_ + L"\\B"}));
    started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], ToolCommandLine(second, L"COM12"));
}

TEST_F(Installer, ASingleArgumentIsIgnored) {
    PlaceTool(root_ + L"\\One\\Utilities\\DriverUtility.exe");
    PlaceTool(ProgramFilesTool());
    ExpectQuietSuccess(Run({root_ + L"\\One\\Shared\\Drivers\\Braille"}));
    const auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], ToolCommandLine(ProgramFilesTool(), L"COM12"));
}

TEST_F(Installer, WithoutArgumentsOnlyTheSystemFolderIsSearched) {
    PlaceTool(ProgramFilesTool());
    ExpectQuietSuccess(Run({}));
    const auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], ToolCommandLine(ProgramFilesTool(), L"COM12"));
}

TEST_F(Installer, NoToolAnywhereStartsNothing) {
    PlaceTool(root_ + L"\\Elsewhere\\DriverUtility.exe"); // not where any candidate looks
    ExpectQuietSuccess(Run({root_ + L"\\A\\Shared\\Drivers\\Braille", root_ + L"\\B"}));
    EXPECT_TRUE(ToolCommandLines(5000).empty());
}

TEST_F(Installer, ASearchStillRunningAfterTwentySecondsRegistersAutomaticSelection) {
    ScriptBluetooth(std::string(kPairedDisplay) + "search-delay 40000\n");
    PlaceTool(ProgramFilesTool());
    const auto outcome = Run({});
    ExpectQuietSuccess(outcome);
    EXPECT_GE(outcome.milliseconds, 19500.0) << "the installer waits for the search";
    EXPECT_LT(outcome.milliseconds, 35000.0) << "but not until the search ends";
    const auto started = ToolCommandLines();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], ToolCommandLine(ProgramFilesTool(), L"AUTO"));
}

} // namespace
