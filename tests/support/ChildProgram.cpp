#include "ChildProgram.h"

#include <shellapi.h>

#include "TestSupport.h"

namespace {

HANDLE InheritableFile(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

ProgramOutcome RunProgram(std::wstring commandLine, const std::wstring& currentDirectory,
                          const std::wstring& outputPath, DWORD timeoutMs) {
    const HANDLE printed = InheritableFile(outputPath, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE input = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = printed;
    startup.hStdError = printed;
    PROCESS_INFORMATION process = {};
    ProgramOutcome outcome;
    const LARGE_INTEGER start = Now();
    outcome.started =
        CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                       currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup,
                       &process) != FALSE;
    CloseHandle(printed);
    CloseHandle(input);
    if (!outcome.started)
        return outcome;
    outcome.ended = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    outcome.milliseconds = MillisecondsSince(start);
    GetExitCodeProcess(process.hProcess, &outcome.exitCode);
    if (!outcome.ended)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    outcome.printed = ReadFileBytes(outputPath);
    return outcome;
}

std::wstring TestProgramFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1);
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

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL wrote =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return wrote != FALSE && written == bytes.size();
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
