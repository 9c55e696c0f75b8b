#include "DriverUtilityLocator.h"

#include <windows.h>
#include <shlobj.h>

#include "InstallerState.h"
#include "PortChoice.h"

namespace {
constexpr wchar_t kBrailleDriverFolder[] = L"SHARED\\DRIVERS\\BRAILLE";
constexpr wchar_t kBesideDriverFolder[] = L"Utilities\\DriverUtility.exe";
constexpr wchar_t kUnderDrivePrefix[] =
    L"\\Program Files\\Freedom Scientific\\Utilities\\DriverUtility.exe";
constexpr wchar_t kUnderProgramFiles[] = L"\\Freedom Scientific\\Utilities\\DriverUtility.exe";
} // namespace

std::vector<std::wstring> DriverUtilityCandidates(const std::wstring& targetFolderArg,
                                                  const std::wstring& drivePrefixArg,
                                                  const std::wstring& programFilesFolder) {
    std::vector<std::wstring> candidates;
    if (!targetFolderArg.empty()) {
        // The folder name may come in any letter case, and the prefix is used in
        // the upper-cased form it was found in.
        const std::wstring upper = UpperCaseAscii(targetFolderArg);
        const size_t found = upper.find(kBrailleDriverFolder);
        if (found != std::wstring::npos)
            candidates.push_back(upper.substr(0, found) + kBesideDriverFolder);
    }
    if (!drivePrefixArg.empty())
        candidates.push_back(drivePrefixArg + kUnderDrivePrefix);
    if (!programFilesFolder.empty())
        candidates.push_back(programFilesFolder + kUnderProgramFiles);
    return candidates;
}

bool FileOpensForReading(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

std::wstring SystemProgramFilesFolder() {
    wchar_t folder[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAM_FILES, FALSE);
    folder[MAX_PATH - 1] = L'\0';
    return folder;
}

int LocateDriverUtility() {
    const std::vector<std::wstring> candidates = DriverUtilityCandidates(
        g_installer.targetFolderArg, g_installer.drivePrefixArg, SystemProgramFilesFolder());
    for (const std::wstring& candidate : candidates) {
        if (FileOpensForReading(candidate)) {
            g_installer.driverUtilityPath = candidate;
            return 1;
        }
    }
    g_installer.driverUtilityPath.clear();
    return 0;
}
