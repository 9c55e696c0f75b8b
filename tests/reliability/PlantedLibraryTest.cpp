// Libraries planted where a program looks for them by name: beside the
// installer in a download folder and in its working directory, beside the
// screen reader that loads the driver and in its working directory. Neither
// deliverable may load one; both still find the display's port through the
// Bluetooth stand-in in system32.
#include <algorithm>

#include "InstallerRun.h"
#include "PlantedLibraries.h"
#include "ReliabilityTable.h"

namespace {

class PlantedLibraries : public InstallerRun {
protected:
    void SetUp() override {
        InstallerRun::SetUp();
        ASSERT_TRUE(PlantLibraries(root_ + L"\\Downloads"));
        ASSERT_TRUE(PlantLibraries(root_ + L"\\Work"));
    }

    // Loads the planted file by its full path in a program of Wine's own, as
    // a program does that looks for it by name and finds it there.
    bool LoadedInAnotherProgram(const wchar_t* name) {
        const std::wstring path = root_ + L"\\Downloads\\" + name;
        const ProgramOutcome outcome =
            RunWithStandIns(L"rundll32.exe " + Quoted(path) + L",BluetoothFindDeviceClose", root_);
        return outcome.ended && outcome.exitCode == 0;
    }

    bool Copy(const wchar_t* name, const std::wstring& folder) {
        return CopyFileW((TestProgramFolder() + name).c_str(), (folder + L"\\" + name).c_str(),
                         FALSE) != FALSE;
    }

    static bool Has(const std::vector<std::string>& marks, const char* name) {
        return std::find(marks.begin(), marks.end(), name) != marks.end();
    }
};

// The value of a "what: value" line the stand-in host printed; empty for none.
std::string Reported(const std::string& printed, const std::string& what) {
    const size_t start = printed.find(what + ": ");
    if (start == std::string::npos)
        return std::string();
    const size_t begin = start + what.size() + 2;
    return printed.substr(begin, printed.find_first_of("\r\n", begin) - begin);
}

} // namespace

// Without it the tests below could not fail: each planted file, once a
// program loads it, leaves its mark (and Wine is told to take it).
TEST_F(PlantedLibraries, EachLeavesItsMarkWhenAProgramLoadsIt) {
    PlantedLibraryWatch watch(root_ + L"\\marks");
    int loaded = 0;
    for (const wchar_t* name : kPlantedLibraries)
        loaded += LoadedInAnotherProgram(name);
    ReportRow("7 loading", "each planted file loaded by its path in another program",
              "%d/3 loaded; marks left: %s", loaded, watch.MarksText().c_str());
    EXPECT_EQ(loaded, 3);
    EXPECT_EQ(watch.Marks().size(), 3u);
}

TEST_F(PlantedLibraries, TheInstallerLoadsNoneAndStillRegistersThePortItFinds) {
    const std::wstring downloads = root_ + L"\\Downloads";
    ASSERT_TRUE(Copy(L"QornSetup.exe", downloads));
    PlaceTool(ProgramFilesTool());
    PlantedLibraryWatch watch(root_ + L"\\marks");

    // First through the system's own WMI, which loads further libraries by
    // bare name (uxtheme among them under Wine) but lists no port here ...
    UseSystemWmi();
    ExpectQuietSuccess(Run({}, root_ + L"\\Work", downloads + L"\\"));
    const std::vector<std::wstring> throughSystemWmi = ToolCommandLines();
    const std::string systemWmiMarks = watch.MarksText();
    watch.ClearMarks();
    // ... then through the stand-in's listing of the display's port.
    DeleteFileW(log_.c_str());
    ScriptSerialPorts(DisplayPort(L"COM12"));
    ExpectQuietSuccess(Run({}, root_ + L"\\Work", downloads + L"\\"));
    const std::vector<std::wstring> started = ToolCommandLines();
    const bool registered =
        started.size() == 1 && started[0] == ToolCommandLine(ProgramFilesTool(), L"COM12");
    ReportRow("7 loading",
              "QornSetup.exe started from a folder holding bluetoothapis.dll, bthprops.cpl, "
              "uxtheme.dll, run in another such folder",
              "marks left by planted files: %s through the system's WMI, %s through the "
              "stand-in's; registered COM12: %s",
              systemWmiMarks.c_str(), watch.MarksText().c_str(), registered ? "yes" : "NO");
    EXPECT_EQ(systemWmiMarks, "none");
    EXPECT_EQ(throughSystemWmi.size(), 1u) << "the run went through to the registration";
    EXPECT_EQ(watch.MarksText(), "none");
    EXPECT_TRUE(registered);
}

// The screen reader's own folder and working directory are its search path,
// not the driver's: the driver must not (and cannot) change it for the
// process. What the driver controls is where it takes the Bluetooth API from.
TEST_F(PlantedLibraries, TheDriverLoadsNoBluetoothLibraryBesideItsHostAndStillFindsThePort) {
    const std::wstring reader = root_ + L"\\Downloads";
    for (const wchar_t* name : {L"stand_in_host.exe", L"QornDriver.jlb", L"QornTI.dll"})
        ASSERT_TRUE(Copy(name, reader));
    PlantedLibraryWatch watch(root_ + L"\\marks");

    const ProgramOutcome outcome =
        RunWithStandIns(Quoted(reader + L"\\stand_in_host.exe") + L" open-auto", root_ + L"\\Work");
    const std::vector<std::string> marks = watch.Marks();
    const std::string port = Reported(outcome.printed, "port");
    ReportRow("7 loading",
              "Open(AUTO) in a host started from a folder holding bluetoothapis.dll, "
              "bthprops.cpl, uxtheme.dll, run in another such folder",
              "marks left by planted files: %s; port the library was opened on: %s",
              watch.MarksText().c_str(), port.empty() ? "none" : port.c_str());
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, 0u) << outcome.printed;
    EXPECT_EQ(port, "COM12") << outcome.printed;
    EXPECT_FALSE(Has(marks, "bluetoothapis.dll"));
    EXPECT_FALSE(Has(marks, "bthprops.cpl"));
}
