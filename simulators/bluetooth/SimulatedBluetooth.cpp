// The simulated Bluetooth device search and its scripts.
#include "SimulatedBluetooth.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "ScriptFile.h"

namespace {

struct Device {
    std::wstring name;
    uint8_t address[6];
    int flags;
};

struct Search {
    std::vector<Device> devices;
    size_t next = 0;
};

struct BluetoothState {
    bool radio = true;
    std::vector<Device> devices;
    DWORD searchDelayMs = 0;
    DWORD nextSearchDelayMs = 0;
    int started = 0;
    int answered = 0;
    int handedOut = 0;
    std::set<Search*> open;
    BLUETOOTH_DEVICE_SEARCH_PARAMS lastParams = {};
    DWORD lastDeviceInfoSize = 0;
};

SRWLOCK g_lock = SRWLOCK_INIT;
BluetoothState* g_state = nullptr; // made on first use, never freed
bool g_scriptLoaded = false;

std::wstring Widen(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           &wide[0], static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
    return wide;
}

int ParseFlags(const std::string& words) {
    int flags = 0;
    if (words.find("authenticated") != std::string::npos)
        flags |= kSimBtAuthenticated;
    if (words.find("remembered") != std::string::npos)
        flags |= kSimBtRemembered;
    if (words.find("connected") != std::string::npos)
        flags |= kSimBtConnected;
    return flags;
}

// "12:34:56:78:9A:BC", most significant byte first.
bool ParseAddress(const std::string& text, uint8_t (&address)[6]) {
    unsigned bytes[6];
    if (sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x", &bytes[5], &bytes[4], &bytes[3], &bytes[2],
               &bytes[1], &bytes[0]) != 6)
        return false;
    for (int i = 0; i < 6; ++i)
        address[i] = static_cast<uint8_t>(bytes[i]);
    return true;
}

void ApplyScriptLine(const std::string& line, BluetoothState& state) {
    if (line == "radio off") {
        state.radio = false;
    } else if (line.compare(0, 13, "search-delay ") == 0) {
        state.searchDelayMs = static_cast<DWORD>(strtoul(line.c_str() + 13, nullptr, 10));
    } else if (line.compare(0, 7, "device ") == 0) {
        const size_t flagsEnd = line.find(' ', 7);
        if (flagsEnd == std::string::npos)
            return;
        const size_t addressEnd = line.find(' ', flagsEnd + 1);
        if (addressEnd == std::string::npos)
            return;
        Device device{
            Widen(line.substr(addressEnd + 1)), {}, ParseFlags(line.substr(7, flagsEnd - 7))};
        if (ParseAddress(line.substr(flagsEnd + 1, addressEnd - flagsEnd - 1), device.address))
            state.devices.push_back(device);
    }
}

// A separate program is scripted through a file named in QORN_SIM_BLUETOOTH.
void LoadScriptFile(BluetoothState& state) {
    const std::wstring path = ScriptFilePath(L"QORN_SIM_BLUETOOTH");
    if (path.empty())
        return;
    ForEachScriptLine(path, [&](const std::string& line) { ApplyScriptLine(line, state); });
}

class Locked {
public:
    Locked() {
        AcquireSRWLockExclusive(&g_lock);
        if (g_state == nullptr)
            g_state = new BluetoothState;
        if (!g_scriptLoaded) {
            g_scriptLoaded = true;
            LoadScriptFile(*g_state);
        }
    }
    ~Locked() { ReleaseSRWLockExclusive(&g_lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    BluetoothState& state() { return *g_state; }
};

bool Listed(const Device& device, const BLUETOOTH_DEVICE_SEARCH_PARAMS& params) {
    return ((device.flags & kSimBtAuthenticated) && params.fReturnAuthenticated) ||
           ((device.flags & kSimBtRemembered) && params.fReturnRemembered) ||
           ((device.flags & kSimBtConnected) && params.fReturnConnected) ||
           (device.flags == 0 && params.fReturnUnknown);
}

void Fill(BLUETOOTH_DEVICE_INFO& info, const Device& device) {
    const DWORD size = info.dwSize;
    memset(&info, 0, sizeof info);
    info.dwSize = size;
    memcpy(info.Address.rgBytes, device.address, sizeof device.address);
    info.fAuthenticated = (device.flags & kSimBtAuthenticated) != 0;
    info.fRemembered = (device.flags & kSimBtRemembered) != 0;
    info.fConnected = (device.flags & kSimBtConnected) != 0;
    const size_t chars =
        device.name.size() < BLUETOOTH_MAX_NAME_SIZE ? device.name.size() : BLUETOOTH_MAX_NAME_SIZE;
    wmemcpy(info.szName, device.name.data(), chars);
}

} // namespace

extern "C" HBLUETOOTH_DEVICE_FIND WINAPI
BluetoothFindFirstDevice(BLUETOOTH_DEVICE_SEARCH_PARAMS* params, BLUETOOTH_DEVICE_INFO* info) {
    DWORD delay;
    {
        Locked lock;
        BluetoothState& state = lock.state();
        ++state.started;
        if (params != nullptr)
            state.lastParams = *params;
        state.lastDeviceInfoSize = info != nullptr ? info->dwSize : 0;
        delay = state.searchDelayMs + state.nextSearchDelayMs;
        state.nextSearchDelayMs = 0;
    }
    if (delay != 0)
        Sleep(delay);

    Locked lock;
    BluetoothState& state = lock.state();
    ++state.answered;
    if (params == nullptr || info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (params->dwSize != sizeof *params || info->dwSize != sizeof *info) {
        SetLastError(ERROR_REVISION_MISMATCH);
        return nullptr;
    }
    if (!state.radio) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto* search = new Search;
    for (const Device& device : state.devices) {
        if (Listed(device, *params))
            search->devices.push_back(device);
    }
    if (search->devices.empty()) {
        delete search;
        SetLastError(ERROR_NO_MORE_ITEMS);
        return nullptr;
    }
    Fill(*info, search->devices[search->next++]);
    ++state.handedOut;
    state.open.insert(search);
    return search;
}

extern "C" BOOL WINAPI BluetoothFindNextDevice(HBLUETOOTH_DEVICE_FIND find,
                                               BLUETOOTH_DEVICE_INFO* info) {
    Locked lock;
    BluetoothState& state = lock.state();
    auto* search = static_cast<Search*>(find);
    if (state.open.count(search) == 0 || info == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (info->dwSize != sizeof *info) {
        SetLastError(ERROR_REVISION_MISMATCH);
        return FALSE;
    }
    if (search->next >= search->devices.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    Fill(*info, search->devices[search->next++]);
    ++state.handedOut;
    return TRUE;
}

extern "C" BOOL WINAPI BluetoothFindDeviceClose(HBLUETOOTH_DEVICE_FIND find) {
    Locked lock;
    auto* search = static_cast<Search*>(find);
    if (lock.state().open.erase(search) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete search;
    return TRUE;
}

SIM_BT_API void SimBtReset() {
    Locked lock;
    for (Search* search : lock.state().open)
        delete search;
    *g_state = BluetoothState{};
}

SIM_BT_API void SimBtSetRadio(int present) {
    Locked lock;
    lock.state().radio = present != 0;
}

SIM_BT_API void SimBtAddDevice(const wchar_t* name, const uint8_t* address, int flags) {
    Device device{name != nullptr ? name : L"", {}, flags};
    if (address != nullptr)
        memcpy(device.address, address, sizeof device.address);
    Locked lock;
    lock.state().devices.push_back(device);
}

SIM_BT_API void SimBtSetSearchDelay(DWORD milliseconds) {
    Locked lock;
    lock.state().searchDelayMs = milliseconds;
}

SIM_BT_API void SimBtDelayNextSearch(DWORD milliseconds) {
    Locked lock;
    lock.state().nextSearchDelayMs = milliseconds;
}

SIM_BT_API int SimBtSearchesStarted() {
    Locked lock;
    return lock.state().started;
}

SIM_BT_API int SimBtSearchesAnswered() {
    Locked lock;
    return lock.state().answered;
}

SIM_BT_API int SimBtSearchesOpen() {
    Locked lock;
    return static_cast<int>(lock.state().open.size());
}

SIM_BT_API int SimBtDevicesHandedOut() {
    Locked lock;
    return lock.state().handedOut;
}

SIM_BT_API void SimBtLastSearch(BLUETOOTH_DEVICE_SEARCH_PARAMS* params, DWORD* deviceInfoSize) {
    Locked lock;
    if (params != nullptr)
        *params = lock.state().lastParams;
    if (deviceInfoSize != nullptr)
        *deviceInfoSize = lock.state().lastDeviceInfoSize;
}
