#include "InstallerRun.h"

#include <shellapi.h>
#include <shlobj.h>

#include "SimulatedWmi.h"
#include "TestSupport.h"

namespace {

std::wstring BinFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFileBytes(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

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

void DeleteTree(const std::wstring& folder) {
    std::wstring from = folder;
    from.push_back(L'\0'); // the list ends with an empty name
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NO_UI;
    SHFileOperationW(&operation);
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

HANDLE InheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

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
    return L"port\t" + deviceId +
           L"\tBTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1D80ECD3&0&" +
           address + L"_C00000000\n";
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
    ScriptBluetooth(kPairedDisplay);
    ScriptSerialPorts(DisplayPort(L"COM12"));
}

void InstallerRun::TearDown() {
    RemoveProgramFilesTool();
    DeleteTree(root_);
}

void InstallerRun::ScriptBluetooth(const std::string& lines) {
    WriteFileBytes(bluetoothScript_, lines);
}

void InstallerRun::ScriptSerialPorts(const std::wstring& lines) {
    WriteFileBytes(wmiScript_, Utf8(lines));
}

std::wstring InstallerRun::PlaceTool(const std::wstring& path) {
    const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    EXPECT_TRUE(CopyFileW((BinFolder() + L"DriverUtility.exe").c_str(), path.c_str(), FALSE))
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

InstallerOutcome InstallerRun::Run(const std::vector<std::wstring>& arguments,
                                   const std::wstring& currentDirectory) {
    SetEnvironmentVariableW(L"QORN_SIM_BLUETOOTH", bluetoothScript_.c_str());
    SetEnvironmentVariableW(L"QORN_SIM_WMI", wmiScript_.c_str());
    SetEnvironmentVariableW(L"QORN_SIM_DRIVER_UTILITY_LOG", log_.c_str());

    std::wstring commandLine = Quoted(BinFolder() + L"QornSetup.exe");
    for (const std::wstring& argument : arguments)
        commandLine += L" " + Quoted(argument);

    const std::wstring printedPath = root_ + L"\\printed.txt";
    const HANDLE printed = InheritableFile(printedPath, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE input = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = printed;
    startup.hStdError = printed;
    PROCESS_INFORMATION process = {};
    InstallerOutcome outcome;
    const LARGE_INTEGER start = Now();
    const BOOL started = CreateProcessW(
        nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
        currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &process);
    CloseHandle(printed);
    CloseHandle(input);
    EXPECT_TRUE(started) << "QornSetup.exe could not be started";
    if (!started)
        return outcome;
    outcome.ended = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    outcome.milliseconds = MillisecondsSince(start);
    GetExitCodeProcess(process.hProcess, &outcome.exitCode);
    if (!outcome.ended)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    outcome.printed = ReadFileBytes(printedPath);
    return outcome;
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
