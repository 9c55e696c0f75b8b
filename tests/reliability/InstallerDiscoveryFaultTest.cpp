// The installer as the other starter of a search: with WMI failing at each of
// its steps it goes on at once and registers automatic port selection; with
// WMI taking seconds per Bluetooth port it registers the port the display's
// device record names, as fast as with a WMI that answers at once. (A
// Bluetooth search that hangs past its 20 s bound is tried by the installer's
// own tests.)
#include <algorithm>
#include <utility>

#include "InstallerRun.h"
#include "PortRecords.h"
#include "ReliabilityTable.h"

namespace {

// The fixture empties the scripts' variables after each test, so later tests
// of this program script the stand-ins in-process.
using InstallerDiscoveryFaults = InstallerRun;

constexpr double kPromptRunMs = 15000; // well inside the installer's 20 s bound

} // namespace

TEST_F(InstallerDiscoveryFaults, WmiFailingAtEachStepRegistersAutomaticSelectionAtOnce) {
    PlaceTool(ProgramFilesTool());
    const wchar_t* const steps[] = {L"locator", L"connect", L"blanket", L"query"};
    int right = 0;
    double slowestMs = 0;
    for (const wchar_t* step : steps) {
        SCOPED_TRACE(std::string(step, step + wcslen(step)));
        ScriptSerialPorts(DisplayPort(L"COM12") + L"fail\t" + step + L"\t0x80004005\n");
        DeleteFileW(log_.c_str());
        const InstallerOutcome outcome = Run({});
        ExpectQuietSuccess(outcome);
        slowestMs = std::max(slowestMs, outcome.milliseconds);
        const std::vector<std::wstring> started = ToolCommandLines();
        const bool ok = outcome.milliseconds < kPromptRunMs && started.size() == 1 &&
                        started[0] == ToolCommandLine(ProgramFilesTool(), L"AUTO");
        right += ok;
        EXPECT_TRUE(ok);
    }
    ReportRow("6 discovery", "QornSetup.exe with WMI failing at each of its 4 steps",
              "%d/4 runs registered AUTO, quietly, exit code 0; slowest run %.0f ms", right,
              slowestMs);
}

TEST_F(InstallerDiscoveryFaults, SlowWmiIsNotWaitedForWhenTheDisplaysRecordIsListed) {
    PlaceTool(ProgramFilesTool());
    const InstallerOutcome plain = Run({}); // WMI lists the display's port at once
    ExpectQuietSuccess(plain);
    const std::vector<std::wstring> plainStarted = ToolCommandLines();

    DeleteFileW(log_.c_str());
    std::wstring ports;
    const std::pair<const wchar_t*, const wchar_t*> others[] = {
        {L"COM20", L"A0B1C2D3E4F5"}, {L"COM21", L"0022446688AA"}, {L"COM22", L"665544332211"}};
    for (const auto& other : others) {
        ports += DisplayPort(other.first, other.second);
        ASSERT_TRUE(AddPortRecord(BluetoothPortId(other.second), other.first));
    }
    ScriptSerialPorts(ports + DisplayPort(L"COM12") + L"bluetooth-port-delay\t3000\n");
    ASSERT_TRUE(AddPortRecord(BluetoothPortId(L"123456789ABC"), L"COM12"));
    const InstallerOutcome quick = Run({});
    ExpectQuietSuccess(quick);
    const std::vector<std::wstring> started = ToolCommandLines();

    // The same without the record: WMI alone, as the search was before.
    DeleteFileW(log_.c_str());
    ASSERT_TRUE(RemovePortRecord(BluetoothPortId(L"123456789ABC")));
    const InstallerOutcome slow = Run({});
    ExpectQuietSuccess(slow);
    const std::vector<std::wstring> slowStarted = ToolCommandLines();

    const std::wstring expected = ToolCommandLine(ProgramFilesTool(), L"COM12");
    const bool registered = started.size() == 1 && started[0] == expected;
    ReportRow("6 discovery",
              "QornSetup.exe, WMI 3 s per Bluetooth port x4, the display's record listed",
              "registered COM12: %s; run took %.0f ms, against %.0f ms with WMI answering at once "
              "and %.0f ms with the slow WMI alone",
              registered ? "yes" : "NO", quick.milliseconds, plain.milliseconds, slow.milliseconds);
    EXPECT_TRUE(registered);
    EXPECT_EQ(plainStarted, std::vector<std::wstring>{expected});
    EXPECT_EQ(slowStarted, std::vector<std::wstring>{expected});
    EXPECT_LT(quick.milliseconds, plain.milliseconds + 1000.0);
    EXPECT_GE(slow.milliseconds, 12000.0) << "WMI takes 3 s for each Bluetooth port";
}
