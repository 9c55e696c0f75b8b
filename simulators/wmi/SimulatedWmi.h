// Control interface of the simulated WMI: an in-process server for the WMI
// locator class that lists scripted serial ports and records how it was called.
//
// SimWmiInstall registers this DLL in the Wine prefix as the server of the
// locator class, so any program's own CoCreateInstance of the locator reaches
// it. Until a script makes it active, it hands out the system's own locator,
// so every other user of WMI in the prefix sees no difference.
//
// Scripts: in-process through the exports below; for a separate program, the
// environment variable QORN_SIM_WMI names a UTF-8 file with one line per port,
//     port<TAB>DeviceID<TAB>PNPDeviceID
// or per failing step (locator, connect, blanket or query, and a hex HRESULT),
//     fail<TAB>connect<TAB>0x80004005
// or for the time the listing takes per Bluetooth port, in milliseconds,
//     bluetooth-port-delay<TAB>3000
// (blank lines and lines starting with # are skipped). The variable makes the
// stand-in active even when the file lists no port.
#pragma once

#include <windows.h>

#ifdef QORN_SIM_WMI_BUILD
#define SIM_WMI_API extern "C" __declspec(dllexport)
#else
#define SIM_WMI_API extern "C" __declspec(dllimport)
#endif

// How a port hands out one of its two identities.
enum SimWmiValueForm {
    kSimWmiText = 0,    // VT_BSTR with the given text
    kSimWmiNull = 1,    // VT_NULL
    kSimWmiMissing = 2, // Get fails with WBEM_E_NOT_FOUND
    kSimWmiNumber = 3,  // VT_I4
};

// Steps that can be made to fail with a scripted result.
enum SimWmiStep {
    kSimWmiCreateLocator = 0,
    kSimWmiConnect = 1,
    kSimWmiBlanket = 2,
    kSimWmiQuery = 3,
    kSimWmiStepCount = 4,
};

constexpr int kSimWmiTextChars = 64;

// What the stand-in has been asked since the last reset; texts are cut to fit.
struct SimWmiRecord {
    int locatorsCreated;
    int connects;
    wchar_t connectNamespace[kSimWmiTextChars];
    int connectExtras; // user, password, locale, authority or context given, or flags not 0
    int blankets;
    DWORD blanketAuthn, blanketAuthz, blanketAuthnLevel, blanketImpLevel, blanketCapabilities;
    int blanketExtras; // server principal name or identity given
    int queries;
    wchar_t queryLanguage[kSimWmiTextChars];
    wchar_t queryText[kSimWmiTextChars];
    LONG queryFlags;
    int queryContextGiven;
    int nextCalls;
    LONG nextTimeout; // of the last Next
    ULONG nextCount;  // of the last Next
    int portsHandedOut;
    int gets;
    int getExtras;    // a Get with flags not 0, or asking for the type or the flavour
    LONG liveObjects; // locators, services, enumerators and ports not yet released
};

// Writes this DLL into the prefix as the locator class's server. Returns 1 on success.
SIM_WMI_API int SimWmiInstall();

// Active, no ports, no failures, record emptied.
SIM_WMI_API void SimWmiReset();
// Inactive: locators come from the system's WMI again.
SIM_WMI_API void SimWmiUseSystemWmi();
SIM_WMI_API void SimWmiAddPort(const wchar_t* deviceId, const wchar_t* pnpDeviceId);
SIM_WMI_API void SimWmiAddOddPort(int deviceIdForm, const wchar_t* deviceId, int pnpForm,
                                  const wchar_t* pnpDeviceId);
// The step answers with result (a failure code) from now on.
SIM_WMI_API void SimWmiFailAt(int step, HRESULT result);
// The listing takes this long for each Bluetooth port (a PNPDeviceID that
// starts with BTHENUM\) as it hands the port out, as the system's WMI does
// when it opens a port whose device is off or out of range.
SIM_WMI_API void SimWmiSetBluetoothPortDelay(DWORD milliseconds);
SIM_WMI_API void SimWmiGetRecord(SimWmiRecord* record);
