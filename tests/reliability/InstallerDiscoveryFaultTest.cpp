// The installer as the other starter of a search: with WMI failing at each of
// its steps it goes on at once and registers automatic port selection. (A
// Bluetooth search that hangs past its 20 s bound is tried by the installer's
// own tests.)
#include <algorithm>

#include "InstallerRun.h"
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
