// The demo's last step: the installer run against a stand-in screen-reader
// folder, with the same paired display and serial ports, and the command line
// the stand-in registration tool received.
#include "InstallerStep.h"

#include <string>

#include <windows.h>

namespace {

std::wstring BinFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring own(path);
    return own.substr(0, own.find_last_of(L'\\') + 1);
}

bool WriteUtf8File(const std::wstring& path, const std::string& text) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return written == text.size();
}

std::string ReadUtf8File(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string text;
    char chunk[1024];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        text.append(chunk, read);
    CloseHandle(file);
    return text;
}

std::string Utf8(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text)
        narrow += static_cast<char>(c < 128 ? c : '?');
    return narrow;
}

// Runs the installer with its two arguments and waits for it; its exit code.
DWORD RunInstaller(const std::wstring& targetFolder, const std::wstring& drivePrefix) {
    std::wstring commandLine =
        L"\"" + BinFolder() + L"QornSetup.exe\" \"" + targetFolder + L"\" \"" + drivePrefix + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return static_cast<DWORD>(-1);
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The installer starts the tool without waiting for it: wait for its record.
std::string AwaitToolRecord(const std::wstring& log) {
    for (int i = 0; i < 1000; ++i) {
        const std::string text = ReadUtf8File(log);
        if (!text.empty() && text.back() == '\n')
            return text.substr(0, text.size() - 1);
        Sleep(10);
    }
    return std::string();
}

} // namespace

void RunInstallerStep(void (*say)(const char* line)) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring root = std::wstring(temp) + L"qorn-demo";
    const std::wstring reader = root + L"\\Screen Reader";
    const std::wstring tool = reader + L"\\Utilities\\DriverUtility.exe";
    const std::wstring driversFolder = reader + L"\\Shared\\Drivers\\Braille";
    const std::wstring log = root + L"\\DriverUtility.log";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW(reader.c_str(), nullptr);
    CreateDirectoryW((reader + L"\\Utilities").c_str(), nullptr);
    CopyFileW((BinFolder() + L"DriverUtility.exe").c_str(), tool.c_str(), FALSE);
    DeleteFileW(log.c_str());

    const std::wstring bluetooth = root + L"\\bluetooth.txt";
    const std::wstring ports = root + L"\\serial-ports.txt";
    WriteUtf8File(bluetooth, "device authenticated 01:02:03:04:05:06 Pocket phone\n"
                             "device authenticated 12:34:56:78:9A:BC ZR47-0412\n");
    WriteUtf8File(ports,
                  "port\tCOM1\tACPI\\PNP0501\\1\n"
                  "port\tCOM12\tBTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002"
                  "\\7&1D80ECD3&0&123456789ABC_C00000000\n"
                  "bluetooth-port-delay\t3000\n");
    SetEnvironmentVariableW(L"QORN_SIM_BLUETOOTH", bluetooth.c_str());
    SetEnvironmentVariableW(L"QORN_SIM_WMI", ports.c_str());
    SetEnvironmentVariableW(L"QORN_SIM_DRIVER_UTILITY_LOG", log.c_str());

    say(("screen reader folder: " + Utf8(reader)).c_str());
    say(("QornSetup.exe \"" + Utf8(driversFolder) + "\" \"C:\"").c_str());
    const ULONGLONG start = GetTickCount64();
    const DWORD code = RunInstaller(driversFolder, L"C:");
    say(("installer exit code " + std::to_string(static_cast<long>(code)) + " after " +
         std::to_string(GetTickCount64() - start) +
         " ms (the display's port from its device record), nothing printed, no window")
            .c_str());
    const std::string received = AwaitToolRecord(log);
    say(received.empty() ? "the registration tool was not started"
                         : ("registration tool received: " + received).c_str());
}
