// The system's Bluetooth API, loaded when a search needs it rather than
// imported: a program that imports bluetoothapis.dll (not one of Windows'
// KnownDLLs) takes the first file of that name in its own folder.
#pragma once

#include <windows.h>
#include <bluetoothapis.h>

// The three functions the Bluetooth stage calls; any of them may be missing.
struct BluetoothApi {
    using FindFirstDevice = HBLUETOOTH_DEVICE_FIND(WINAPI*)(BLUETOOTH_DEVICE_SEARCH_PARAMS*,
                                                            BLUETOOTH_DEVICE_INFO*);
    using FindNextDevice = BOOL(WINAPI*)(HBLUETOOTH_DEVICE_FIND, BLUETOOTH_DEVICE_INFO*);
    using FindDeviceClose = BOOL(WINAPI*)(HBLUETOOTH_DEVICE_FIND);

    FindFirstDevice findFirstDevice = nullptr;
    FindNextDevice findNextDevice = nullptr;
    FindDeviceClose findDeviceClose = nullptr;

    // All three are there: a search can be started, walked and closed.
    bool complete() const {
        return findFirstDevice != nullptr && findNextDevice != nullptr &&
               findDeviceClose != nullptr;
    }
};

// The library as the system holds it, loaded from system32 and nowhere else
// (never from a program's folder, the working directory or PATH), with its
// functions resolved by name. Frees the library when the owner goes.
class SystemBluetoothLibrary {
public:
    // moduleName is the system's bluetoothapis.dll but for tests.
    explicit SystemBluetoothLibrary(const wchar_t* moduleName = L"bluetoothapis.dll");
    ~SystemBluetoothLibrary();
    SystemBluetoothLibrary(const SystemBluetoothLibrary&) = delete;
    SystemBluetoothLibrary& operator=(const SystemBluetoothLibrary&) = delete;

    HMODULE module() const { return module_; }
    // Every function null when the library did not load.
    const BluetoothApi& api() const { return api_; }

private:
    HMODULE module_;
    BluetoothApi api_;
};
