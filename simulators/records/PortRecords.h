// The device records of serial ports, written into and removed from the Wine
// prefix's registry as the system's Plug and Play manager leaves them when a
// Bluetooth device is paired: a key under Enum named by the instance ID, of the
// Ports class, with PortName in its hardware key ("Device Parameters"). Wine's
// own setupapi.dll lists them to every program of the prefix (and writes a
// Class value into each at every listing); a record stays until it is removed.
#pragma once

#include <string>

// How a record holds its port name.
enum class PortNameForm {
    kText,         // REG_SZ with its terminator
    kUnterminated, // REG_SZ without a terminator
    kOddBytes,     // REG_SZ without a terminator, and one byte more
    kNumber,       // REG_DWORD
    kNoValue,      // a hardware key without PortName
    kNoHardwareKey,
};

// The instance ID Windows gives the serial port of a paired Bluetooth device:
// the remote address (12 hex digits) at index 74, in the twelve characters
// before the last "_"; an incoming port carries 000000000000 there.
std::wstring BluetoothPortId(const std::wstring& address,
                             const std::wstring& lastPart = L"C00000000");

// Writes one record (instanceId: enumerator\device\instance). True on success.
bool AddPortRecord(const std::wstring& instanceId, const std::wstring& portName,
                   PortNameForm form = PortNameForm::kText);
bool RemovePortRecord(const std::wstring& instanceId);
// Removes every Ports-class record of the prefix (a test prefix has none of
// its own), also those an earlier run left behind. True when none is left.
bool RemoveAllPortRecords();

// What the system then tells every top-level window: WM_DEVICECHANGE with
// DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE and a DEV_BROADCAST_PORT naming
// the port, or DBT_DEVNODES_CHANGED (port null) with no data. Sent, so it
// returns once every window has answered (or hung past 1 s): the window of a
// thread waiting for this call must be served by another. True when sent.
bool BroadcastDeviceChange(unsigned event, const wchar_t* port);
