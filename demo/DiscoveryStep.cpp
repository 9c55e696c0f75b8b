// The demo's search step: the device records of the machine's serial ports,
// and the search through them beside the slow WMI listing of the same ports.
#include "DiscoveryStep.h"

#include <process.h>

#include <cstdio>
#include <string>

#include <windows.h>

#include "BluetoothStage.h"
#include "DiscoveryThread.h"
#include "Parameters.h"
#include "PortRecords.h"
#include "SerialPortStage.h"
#include "SimulatedWmi.h"

namespace {

const std::wstring kDisplayPortId = BluetoothPortId(L"123456789ABC");
const std::wstring kIncomingPortId = BluetoothPortId(L"000000000000", L"000000000");
const std::wstring kRepairedPortId = BluetoothPortId(L"123456789ABC", L"C00000001");

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text)
        narrow += static_cast<char>(c < 128 ? c : '?');
    return narrow.empty() ? "no port" : narrow;
}

void SayFound(void (*say)(const char*), const char* format, double ms, const std::wstring& port) {
    char line[256];
    snprintf(line, sizeof line, format, Narrow(port).c_str(), ms);
    say(line);
}

// Bluetooth, then WMI alone, as the search ran before the device records.
unsigned __stdcall ListThroughWmi(void* port) {
    std::wstring address;
    if (FindDisplayAddress(address))
        FindSerialPort(address, *static_cast<std::wstring*>(port));
    return 0;
}

} // namespace

bool ListDemoPortRecords() {
    SimWmiSetBluetoothPortDelay(3000);
    return RemoveAllPortRecords() && AddPortRecord(L"ACPI\\PNP0501\\1", L"COM1") &&
           AddPortRecord(kIncomingPortId, L"COM4") && AddPortRecord(kDisplayPortId, L"COM12");
}

void RemoveDemoPortRecords() {
    RemovePortRecord(L"ACPI\\PNP0501\\1");
    RemovePortRecord(kIncomingPortId);
    RemovePortRecord(kDisplayPortId);
    RemovePortRecord(kRepairedPortId);
}

bool RepairDisplayOnNewPort() {
    return RemovePortRecord(kDisplayPortId) && AddPortRecord(kRepairedPortId, L"COM14");
}

void CompareSearchWithWmiListing(void (*say)(const char*)) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    DiscoveryThread thread;
    DiscoveryResult result;
    if (StartDiscovery(thread))
        FinishDiscovery(thread, qorn::kDriverDiscoveryTimeoutMs, result);
    SayFound(say, "search through the device records: %s in %.1f ms, no port opened",
             MillisecondsSince(start), result.deviceId);

    std::wstring port;
    QueryPerformanceCounter(&start);
    const HANDLE wmi =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ListThroughWmi, &port, 0, nullptr));
    if (wmi != nullptr) {
        WaitForSingleObject(wmi, INFINITE);
        CloseHandle(wmi);
    }
    SayFound(say,
             "the same search through WMI alone: %s in %.0f ms (WMI opens each Bluetooth port)",
             MillisecondsSince(start), port);
}
