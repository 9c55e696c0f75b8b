#include "DiscoveryFigures.h"

#include <cstdio>
#include <string>

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include "BenchSupport.h"
#include "BluetoothStage.h"
#include "DiscoveryThread.h"
#include "Parameters.h"
#include "PortRecords.h"
#include "SerialPortStage.h"
#include "SimulatedBluetooth.h"
#include "SimulatedWmi.h"

namespace {

constexpr DWORD kBluetoothPortMs = 3000; // WMI's time per Bluetooth port

// The machine: a phone, a headset and the display paired; a built-in port, two
// outgoing Bluetooth ports of the others, an incoming one and the display's,
// listed alike by the device records and by WMI.
bool SetUpMachine() {
    const uint8_t display[6] = {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};
    SimBtReset();
    SimBtAddDevice(L"ZR47-0412", display, kSimBtAuthenticated);
    if (SimWmiInstall() != 1 || !RemoveAllPortRecords())
        return false;
    SimWmiReset();
    const std::pair<const wchar_t*, std::wstring> ports[] = {
        {L"COM1", L"ACPI\\PNP0501\\1"},
        {L"COM20", BluetoothPortId(L"A0B1C2D3E4F5")},
        {L"COM21", BluetoothPortId(L"0022446688AA")},
        {L"COM22", BluetoothPortId(L"000000000000", L"000000000")},
        {L"COM12", BluetoothPortId(L"123456789ABC")},
    };
    for (const auto& port : ports) {
        if (!AddPortRecord(port.second, port.first))
            return false;
        SimWmiAddPort(port.first, port.second.c_str());
    }
    SimWmiSetBluetoothPortDelay(kBluetoothPortMs);
    return true;
}

// The floor: the Ports class listed with each record's instance ID and port
// name read, as bare SetupAPI and registry calls with no choice made.
double MeasureBareRecordListing() {
    const int64_t start = Ticks();
    const HDEVINFO set =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        wchar_t id[MAX_DEVICE_ID_LEN];
        SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, nullptr);
        const HKEY key =
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        wchar_t name[64];
        DWORD bytes = sizeof name;
        RegQueryValueExW(key, L"PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &bytes);
        RegCloseKey(key);
    }
    SetupDiDestroyDeviceInfoList(set);
    return MicrosSince(start) / 1000.0;
}

// One search as Open("AUTO") runs it, on its own thread; -1 unless it found COM12.
double MeasureSearch() {
    const int64_t start = Ticks();
    DiscoveryThread thread;
    DiscoveryResult result;
    const bool ended =
        StartDiscovery(thread) && FinishDiscovery(thread, qorn::kSetupDiscoveryTimeoutMs, result);
    const double ms = MicrosSince(start) / 1000.0;
    return ended && result.deviceId == L"COM12" ? ms : -1;
}

// The search as it was: Bluetooth, then WMI alone, on a thread of its own as
// the search ran; -1 unless it found COM12.
double MeasureWmiAloneSearch() {
    std::wstring port;
    const int64_t start = Ticks();
    {
        BenchThread search(THREAD_PRIORITY_NORMAL, [&] {
            std::wstring address;
            if (FindDisplayAddress(address))
                FindSerialPort(address, port);
        });
    }
    const double ms = MicrosSince(start) / 1000.0;
    return port == L"COM12" ? ms : -1;
}

void AddRow(ResultTable& table, const std::string& figure, const Samples& ours, double floorMs,
            const char* target) {
    table.Add({figure + ", median", Millis(ours.Median()), Millis(floorMs),
               Ratio(ours.Median(), floorMs), target});
    table.Add({figure + ", worst", Millis(ours.Worst()), Millis(floorMs),
               Ratio(ours.Worst(), floorMs), target});
}

} // namespace

void AddDiscoveryRows(ResultTable& table, bool quick) {
    fprintf(stderr, "           measuring: the search for the display's port\n");
    if (!SetUpMachine()) {
        table.Add({"Search for the display's port", "not set up", "-", "-", "-"});
        return;
    }
    const int rounds = quick ? 5 : 50;
    const int wmiRounds = quick ? 1 : 3;
    Samples floorMs, searchMs, wmiMs;
    int failed = 0;
    MeasureBareRecordListing(); // first-time costs left out of both
    MeasureSearch();
    for (int round = 0; round < rounds; ++round) {
        floorMs.Add(MeasureBareRecordListing());
        const double ms = MeasureSearch();
        if (ms >= 0)
            searchMs.Add(ms);
        else
            ++failed;
    }
    for (int round = 0; round < wmiRounds; ++round) {
        const double ms = MeasureWmiAloneSearch();
        if (ms >= 0)
            wmiMs.Add(ms);
        else
            ++failed;
    }
    const double floor = floorMs.Median();
    if (!searchMs.Empty())
        AddRow(table, "Search, display's record listed", searchMs, floor, "< 1 s");
    if (!wmiMs.Empty()) {
        AddRow(table, "Search as it was, WMI alone", wmiMs, floor, "-");
        table.Add({"  search / search as it was, median", Millis(searchMs.Median()),
                   Millis(wmiMs.Median()), Ratio(searchMs.Median(), wmiMs.Median()), "-"});
    }
    if (failed != 0)
        printf("warning: %d searches did not find COM12\n", failed);
    RemoveAllPortRecords();
    SimWmiUseSystemWmi();
}
