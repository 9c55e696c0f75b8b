// Control interface of the simulated Bluetooth API: a stand-in
// bluetoothapis.dll whose device search lists scripted paired devices.
//
// The search honours the filters of its parameters (authenticated, remembered,
// connected, and unknown for a device with none of these flags) and, like the
// system's, insists on the record sizes. Each search handle must be closed.
//
// Scripts: in-process through the exports below; for a separate program, the
// environment variable QORN_SIM_BLUETOOTH names a UTF-8 file of lines such as
//     device authenticated 12:34:56:78:9A:BC ZR47-0001
//     device remembered,connected 00:11:22:33:44:55 Some phone
//     radio off
//     search-delay 30000
// A device line gives its flags (comma-separated, or "none"), its address
// written most significant byte first, and its name (the rest of the line).
// Without a script there is a radio and no paired device.
#pragma once

#include <cstdint>

#include <windows.h>
#include <bluetoothapis.h>

#ifdef QORN_SIM_BLUETOOTH_BUILD
#define SIM_BT_API extern "C" __declspec(dllexport)
#else
#define SIM_BT_API extern "C" __declspec(dllimport)
#endif

enum SimBtDeviceFlags {
    kSimBtAuthenticated = 1,
    kSimBtRemembered = 2,
    kSimBtConnected = 4,
};

// A radio, no devices, no delays, counters at zero, any script file dropped.
SIM_BT_API void SimBtReset();
SIM_BT_API void SimBtSetRadio(int present);
// address: bytes 0 (least significant) to 5, as Windows stores them. The name
// is cut to the record's 248 code units, unterminated when it fills them.
SIM_BT_API void SimBtAddDevice(const wchar_t* name, const uint8_t* address, int flags);
// Every search start takes this long before it answers.
SIM_BT_API void SimBtSetSearchDelay(DWORD milliseconds);
// Only the next search start takes this long (on top of the delay above).
SIM_BT_API void SimBtDelayNextSearch(DWORD milliseconds);

// Search starts entered so far, and how many of them have answered.
SIM_BT_API int SimBtSearchesStarted();
SIM_BT_API int SimBtSearchesAnswered();
// Searches handed out and not yet closed.
SIM_BT_API int SimBtSearchesOpen();
// Device records filled so far, by the first and the next calls together.
SIM_BT_API int SimBtDevicesHandedOut();
// The parameters and the device record's dwSize of the latest search start.
SIM_BT_API void SimBtLastSearch(BLUETOOTH_DEVICE_SEARCH_PARAMS* params, DWORD* deviceInfoSize);
