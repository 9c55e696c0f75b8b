// Stand-in for the screen reader's registration tool: appends the command line
// it was started with, as one UTF-8 line, to the file named in
// QORN_SIM_DRIVER_UTILITY_LOG (or DriverUtility.log beside itself), and ends.
#include <string>

#include <windows.h>

namespace {

std::wstring LogPath() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"QORN_SIM_DRIVER_UTILITY_LOG", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        return path;
    const DWORD own = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (own == 0 || own >= MAX_PATH)
        return L"DriverUtility.log";
    std::wstring beside(path);
    return beside.substr(0, beside.find_last_of(L'\\') + 1) + L"DriverUtility.log";
}

std::string Utf8(const std::wstring& text) {
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return std::string();
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &narrow[0], bytes, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(bytes) - 1);
    return narrow;
}

} // namespace

int main() {
    const std::string line = Utf8(GetCommandLineW()) + "\n";
    const HANDLE log = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    // One write, so that a reader never sees half a line.
    WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);
    return 0;
}
