#include "InstallerRun.h"

#include <shlobj.h>

#include "PortRecords.h"
#include "SimulatedWmi.h"
#include "TestSupport.h"

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], bytes,
                        nullptr, nullptr);
    return narrow;
}

std::wstring Wide(const std::string& text) {
    if (text.empty())
        return std::wstring();
    const int chars =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], chars);
    return wide;
}

constexpr DWORD kRunLimitMs = 60000; // a run that takes longer is ended

} // namespace

std::wstring ToolCommandLine(const std::wstring& toolPath, const std::wstring& port) {
    return Quoted(toolPath) + L" /type b /action a /d QornDriver /n Qorn /l \"Lumivo 12\" /p " +
           port + L" /reg QornTI.dll /default";
}

std::wstring UpperCased(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return text;
}

std::wstring DisplayPort(const std::wstring& deviceId, const std::wstring& address) {
    return L"port\t" + deviceId + L"\t" + BluetoothPortId(address) + L"\n";
}

void InstallerRun::SetUpTestSuite() {
    ASSERT_EQ(SimWmiInstall(), 1);
}

void InstallerRun::SetUp() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static int runs = 0;
    root_ = std::wstring(temp) + L"qorn-setup-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++runs);
    DeleteTree(root_);
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    log_ = root_ + L"\\DriverUtility.log";
    bluetoothScript_ = root_ + L"\\bluetooth.txt";
    wmiScript_ = root_ + L"\\wmi.txt";
    RemoveProgramFilesTool();
    ASSERT_TRUE(RemoveAllPortRecords());
    ScriptBluetooth(kPairedDisplay);
    ScriptSerialPorts(DisplayPort(L"COM12"));
}

void InstallerRun::TearDown() {
    RemoveProgramFilesTool();
    EXPECT_TRUE(RemoveAllPortRecords());
    DeleteTree(root_);
    // The scripts named there are gone; later tests of this program may script
    // the stand-ins in-process.
    SetEnvironmentVariableW(L"QORN_SIM_BLUETOOTH", nullptr);
    SetEnvironmentVariableW(L"QORN_SIM_WMI", nullptr);
    SetEnvironmentVariableW(L"QORN_SIM_DRIVER_UTILITY_LOG", nullptr);
}

void InstallerRun::ScriptBluetooth(const std::string& lines) {
    EXPECT_TRUE(WriteFileBytes(bluetoothScript_, lines));
}

void InstallerRun::ScriptSerialPorts(const std::wstring& lines) {
    EXPECT_TRUE(WriteFileBytes(wmiScript_, Utf8(lines)));
    systemWmi_ = false;
}

std::wstring InstallerRun::PlaceTool(const std::wstring& path) {
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    EXPECT_TRUE(
        CopyFileW((TestProgramFolder() + L"DriverUtility.exe").c_str(), path.c_str(), FALSE))
        << "placing the tool at " << Utf8(path);
    return path;
}

std::wstring InstallerRun::ProgramFilesTool() {
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    return std::wstring(folder) + L"\\Freedom Scientific\\Utilities\\DriverUtility.exe";
}

void InstallerRun::RemoveProgramFilesTool() {
    // The prefix is shared by every run: no tool may stay there for the next.
    DeleteFileW(ProgramFilesTool().c_str());
}

ProgramOutcome InstallerRun::RunWithStandIns(const std::wstring& commandLine,
                                             const std::wstring& currentDirectory) {
    SetEnvironmentVariableW(L"QORN_SIM_BLUETOOTH", bluetoothScript_.c_str());
    SetEnvironmentVariableW(L"QORN_SIM_WMI", systemWmi_ ? nullptr : wmiScript_.c_str());
    SetEnvironmentVariableW(L"QORN_SIM_DRIVER_UTILITY_LOG", log_.c_str());
    const ProgramOutcome outcome =
        RunProgram(commandLine, currentDirectory, root_ + L"\\printed.txt", kRunLimitMs);
    EXPECT_TRUE(outcome.started) << "could not start " << Utf8(commandLine);
    return outcome;
}

InstallerOutcome InstallerRun::Run(const std::vector<std::wstring>& arguments,
                                   const std::wstring& currentDirectory,
                                   const std::wstring& programFolder) {
    std::wstring commandLine =
        Quoted((programFolder.empty() ? TestProgramFolder() : programFolder) + L"QornSetup.exe");
    for (const std::wstring& argument : arguments)
        commandLine += L" " + Quoted(argument);
    return RunWithStandIns(commandLine, currentDirectory);
}

std::vector<std::wstring> InstallerRun::ToolCommandLines(DWORD waitMs) {
    WaitFor([this] { return ReadFileBytes(log_).find('\n') != std::string::npos; }, waitMs);
    Sleep(300); // room for a second start, which must not come
    std::vector<std::wstring> lines;
    const std::string bytes = ReadFileBytes(log_);
    size_t begin = 0;
    for (size_t end; (end = bytes.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(Wide(bytes.substr(begin, end - begin)));
    return lines;
}

void InstallerRun::ExpectQuietSuccess(const InstallerOutcome& outcome) {
    EXPECT_TRUE(outcome.ended);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_EQ(outcome.printed, "") << "the installer prints nothing";
}
