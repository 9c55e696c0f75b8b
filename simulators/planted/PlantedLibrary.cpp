// A library an attacker leaves where a program may look for one by name (its
// own folder, a download folder, the working directory). Its entry point runs
// the moment the library is loaded, before anything of it is called: it leaves
// a mark, an empty file named after itself, in the folder named in
// QORN_PLANTED_MARKS. Built under the names of libraries the system loads by
// bare name. It also answers the Bluetooth device search (no devices), so that
// a program that calls it goes on as without a display.
#include <string>

#include <windows.h>
#include <bluetoothapis.h>

namespace {

std::wstring OwnFileName(HMODULE self) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    const std::wstring file(path, length);
    return file.substr(file.find_last_of(L"\\/") + 1);
}

void LeaveMark(HMODULE self) {
    wchar_t folder[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"QORN_PLANTED_MARKS", folder, MAX_PATH);
    const std::wstring name = OwnFileName(self);
    if (length == 0 || length >= MAX_PATH || name.empty())
        return;
    const std::wstring mark = std::wstring(folder, length) + L"\\" + name;
    const HANDLE file = CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        LeaveMark(self);
    return TRUE;
}

extern "C" HBLUETOOTH_DEVICE_FIND WINAPI BluetoothFindFirstDevice(BLUETOOTH_DEVICE_SEARCH_PARAMS*,
                                                                  BLUETOOTH_DEVICE_INFO*) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return nullptr;
}

extern "C" BOOL WINAPI BluetoothFindNextDevice(HBLUETOOTH_DEVICE_FIND, BLUETOOTH_DEVICE_INFO*) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

extern "C" BOOL WINAPI BluetoothFindDeviceClose(HBLUETOOTH_DEVICE_FIND) {
    return TRUE;
}
