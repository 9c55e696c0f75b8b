#include "PlantedLibraries.h"

#include <windows.h>

#include "ChildProgram.h"

const wchar_t* const kPlantedLibraries[3] = {L"bluetoothapis.dll", L"bthprops.cpl", L"uxtheme.dll"};

namespace {

// Wine takes WINEDLLOVERRIDES only from the environment it was started with (a
// change made by a program reaches none of its children), so the preference for
// native files goes into Wine's registry key of overrides, read by every
// process as it starts. Windows has no such key and ignores it. The Bluetooth
// stand-in is native-only already (WINEDLLOVERRIDES); these two fall back to
// Wine's own where no native file is found (system32 holds only placeholders).
constexpr wchar_t kWineOverrides[] = L"Software\\Wine\\DllOverrides";
constexpr const wchar_t* kPreferNative[] = {L"bthprops.cpl", L"uxtheme"};
constexpr wchar_t kNativeThenBuiltin[] = L"native,builtin";

void PreferPlantedFiles(bool prefer) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kWineOverrides, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    for (const wchar_t* name : kPreferNative) {
        if (prefer)
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeThenBuiltin),
                           sizeof kNativeThenBuiltin);
        else
            RegDeleteValueW(key, name);
    }
    RegCloseKey(key);
}

std::wstring PlantedFolder() {
    return TestProgramFolder() + L"..\\planted\\";
}

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text != L'\0'; ++text)
        narrow.push_back(static_cast<char>(*text));
    return narrow;
}

} // namespace

bool PlantLibraries(const std::wstring& folder) {
    CreateDirectoryW(folder.c_str(), nullptr);
    bool all = true;
    for (const wchar_t* name : kPlantedLibraries)
        all = CopyFileW((PlantedFolder() + name).c_str(), (folder + L"\\" + name).c_str(), FALSE) !=
                  FALSE &&
              all;
    return all;
}

PlantedLibraryWatch::PlantedLibraryWatch(const std::wstring& marksFolder)
    : marksFolder_(marksFolder) {
    CreateDirectoryW(marksFolder_.c_str(), nullptr);
    ClearMarks();
    SetEnvironmentVariableW(L"QORN_PLANTED_MARKS", marksFolder_.c_str());
    PreferPlantedFiles(true);
}

PlantedLibraryWatch::~PlantedLibraryWatch() {
    PreferPlantedFiles(false);
    SetEnvironmentVariableW(L"QORN_PLANTED_MARKS", nullptr);
}

std::vector<std::string> PlantedLibraryWatch::Marks() const {
    std::vector<std::string> marks;
    for (const wchar_t* name : kPlantedLibraries) {
        if (GetFileAttributesW((marksFolder_ + L"\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES)
            marks.push_back(Narrow(name));
    }
    return marks;
}

void PlantedLibraryWatch::ClearMarks() {
    for (const wchar_t* name : kPlantedLibraries)
        DeleteFileW((marksFolder_ + L"\\" + name).c_str());
}

std::string PlantedLibraryWatch::MarksText() const {
    std::string text;
    for (const std::string& mark : Marks())
        text += (text.empty() ? "" : ", ") + mark;
    return text.empty() ? "none" : text;
}
