#include "FindDisplayPort.h"

#include "BluetoothStage.h"
#include "PortName.h"
#include "SerialPortStage.h"

int SearchDisplayPort(DiscoveryResult& result) {
    try {
        std::wstring addressText;
        if (!FindDisplayAddress(addressText))
            return -1;
        std::wstring deviceId;
        if (!FindSerialPort(addressText, deviceId))
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
