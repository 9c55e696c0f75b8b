// The simulated WMI's shared state, guarded by one lock.
#pragma once

#include <string>
#include <vector>

#include <windows.h>
#include <unknwn.h>

#include "SimulatedWmi.h"

struct SimPort {
    int deviceIdForm;
    std::wstring deviceId;
    int pnpForm;
    std::wstring pnpDeviceId;
};

struct WmiState {
    bool active = false;
    std::vector<SimPort> ports;
    HRESULT failures[kSimWmiStepCount] = {};
    DWORD bluetoothPortDelayMs = 0;
    SimWmiRecord record = {};
};

// Holds the one lock (not re-entrant); the script of QORN_SIM_WMI is loaded on
// first use.
class WmiLock {
public:
    WmiLock();
    ~WmiLock();
    WmiLock(const WmiLock&) = delete;
    WmiLock& operator=(const WmiLock&) = delete;
    WmiState& state();
};

void CopyCut(wchar_t (&to)[kSimWmiTextChars], const wchar_t* from);

// The stand-in's locator, with one reference for the caller.
IUnknown* NewLocator();
