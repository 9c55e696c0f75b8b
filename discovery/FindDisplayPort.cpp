#include "FindDisplayPort.h"

#include "BluetoothStage.h"
#include "DeviceRecordsStage.h"
#include "PortName.h"
#include "SerialPortStage.h"

namespace {

// The name of the display's port, empty for none. False, with no port, when
// the stage that had the last word failed.
bool FindPortOfDisplay(const std::wstring& addressText, SearchStages stages, std::wstring& portName,
                       std::vector<ListedPort>& listed) {
    const bool recordsListed = FindPortInDeviceRecords(addressText, portName, &listed);
    if (recordsListed && !portName.empty())
        return true;
    if (stages == SearchStages::kRecordsOnly)
        return recordsListed;
    return FindSerialPort(addressText, portName);
}

} // namespace

int SearchDisplayPort(DiscoveryResult& result, SearchStages stages) {
    try {
        std::wstring addressText;
        if (!FindDisplayAddress(addressText))
            return -1;
        std::wstring deviceId;
        if (!FindPortOfDisplay(addressText, stages, deviceId, result.listed))
            return -1;
        result.deviceId = deviceId;
        if (!deviceId.empty() && !StorePortName(deviceId, result.portName))
            return -1;
    } catch (...) {
        // No memory for a text: a failed search like any other, and nothing may
        // escape the thread into the host process.
        return -1;
    }
    result.completed = 1;
    return 1;
}
