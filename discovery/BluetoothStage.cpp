#include "BluetoothStage.h"

#include <windows.h>
#include <bluetoothapis.h>

#include "DisplayIdentity.h"

namespace {

// Only devices the system already holds as authenticated; no radio scanning.
BLUETOOTH_DEVICE_SEARCH_PARAMS PairedDevicesOnly() {
    BLUETOOTH_DEVICE_SEARCH_PARAMS params;
    params.dwSize = sizeof params;
    params.fReturnAuthenticated = TRUE;
    params.fReturnRemembered = FALSE;
    params.fReturnUnknown = FALSE;
    params.fReturnConnected = FALSE;
    params.fIssueInquiry = FALSE;
    params.cTimeoutMultiplier = 0;
    params.hRadio = nullptr; // every local radio
    return params;
}

class DeviceSearch {
public:
    DeviceSearch(BLUETOOTH_DEVICE_SEARCH_PARAMS& params, BLUETOOTH_DEVICE_INFO& device)
        : find_(BluetoothFindFirstDevice(&params, &device)) {}
    ~DeviceSearch() {
        if (find_ != nullptr)
            BluetoothFindDeviceClose(find_);
    }
    DeviceSearch(const DeviceSearch&) = delete;
    DeviceSearch& operator=(const DeviceSearch&) = delete;

    bool started() const { return find_ != nullptr; }
    bool Next(BLUETOOTH_DEVICE_INFO& device) { return BluetoothFindNextDevice(find_, &device); }

private:
    HBLUETOOTH_DEVICE_FIND find_;
};

} // namespace

bool FindDisplayAddress(std::wstring& addressText) {
    BLUETOOTH_DEVICE_SEARCH_PARAMS params = PairedDevicesOnly();
    BLUETOOTH_DEVICE_INFO device = {};
    device.dwSize = sizeof device; // once: the same record serves every device
    DeviceSearch search(params, device);
    if (!search.started())
        return false;
    do {
        if (IsDisplayName(device.szName, BLUETOOTH_MAX_NAME_SIZE)) {
            addressText = AddressText(device.Address.rgBytes);
            return true;
        }
    } while (search.Next(device));
    return true;
}
