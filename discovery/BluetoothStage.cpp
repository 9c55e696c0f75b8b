#include "BluetoothStage.h"

#include "BluetoothApi.h"
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

// One device search, closed when the owner goes; api must be complete.
class DeviceSearch {
public:
    DeviceSearch(const BluetoothApi& api, BLUETOOTH_DEVICE_SEARCH_PARAMS& params,
                 BLUETOOTH_DEVICE_INFO& device)
        : api_(api), find_(api.findFirstDevice(&params, &device)) {}
    ~DeviceSearch() {
        if (find_ != nullptr)
            api_.findDeviceClose(find_);
    }
    DeviceSearch(const DeviceSearch&) = delete;
    DeviceSearch& operator=(const DeviceSearch&) = delete;

    bool started() const { return find_ != nullptr; }
    bool Next(BLUETOOTH_DEVICE_INFO& device) { return api_.findNextDevice(find_, &device); }

private:
    const BluetoothApi& api_;
    HBLUETOOTH_DEVICE_FIND find_;
};

} // namespace

bool FindDisplayAddress(std::wstring& addressText) {
    // The library stays loaded until the search handle is closed.
    const SystemBluetoothLibrary library;
    return FindDisplayAddress(library.api(), addressText);
}

bool FindDisplayAddress(const BluetoothApi& api, std::wstring& addressText) {
    // Without the whole API the system can list no device: as with no radio.
    if (!api.complete())
        return false;
    BLUETOOTH_DEVICE_SEARCH_PARAMS params = PairedDevicesOnly();
    BLUETOOTH_DEVICE_INFO device = {};
    device.dwSize = sizeof device; // once: the same record serves every device
    DeviceSearch search(api, params, device);
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
