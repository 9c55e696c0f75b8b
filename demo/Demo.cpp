// The demo: one whole session of a screen reader on the simulated display,
// told as a transcript. Run by scripts/demo.sh under Wine.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <dbt.h>

#include "DebuggerOutput.h"
#include "DiscoveryStep.h"
#include "InstallerStep.h"
#include "PortRecords.h"
#include "ScreenReaderHost.h"
#include "SimulatedBluetooth.h"
#include "SimulatedDisplay.h"
#include "SimulatedWmi.h"

namespace {

// ---- Transcript ----

void Say(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fputs(line, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

void Heading(const char* title) {
    Say("\n== %s", title);
}

// A cell byte as the Unicode braille pattern U+2800 + byte, in UTF-8.
std::string BrailleGlyph(uint8_t cell) {
    const unsigned code = 0x2800u + cell;
    std::string glyph;
    glyph += static_cast<char>(0xE0 | (code >> 12));
    glyph += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    glyph += static_cast<char>(0x80 | (code & 0x3F));
    return glyph;
}

std::string BrailleLine(const uint8_t* cells, int count) {
    std::string line;
    for (int i = 0; i < count; ++i)
        line += BrailleGlyph(cells[i]);
    return line;
}

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text != L'\0'; ++text)
        narrow += static_cast<char>(*text < 128 ? *text : '?');
    return narrow;
}

std::vector<uint8_t> CellsOf(const std::string& text, int width) {
    std::vector<uint8_t> cells(static_cast<size_t>(width), 0);
    for (size_t i = 0; i < text.size() && i < cells.size(); ++i)
        cells[i] = ScreenReaderHost::BrailleCell(text[i]);
    return cells;
}

std::string ShownOnDisplay(int width) {
    uint8_t shown[kSimMaxCells] = {};
    SimGetCells(shown, width);
    return BrailleLine(shown, width);
}

// ---- Steps of the session ----

void ShowIdentity(IBrailleDriver* driver) {
    char name[32], maker[32];
    GUID guid{};
    driver->GetDisplayName(name, sizeof name);
    driver->GetManufacturer(maker, sizeof maker, &guid);
    const int version = driver->GetDriverVersion();
    Say("driver: %s by %s, version %d.%d.%d.%d", name, maker, (version >> 24) & 0xFF,
        (version >> 16) & 0xFF, (version >> 8) & 0xFF, version & 0xFF);
}

// The machine as the demo sets it up: a phone and the display paired over
// Bluetooth, and three serial ports, one of them the display's.
bool PairTheDisplay() {
    const uint8_t phone[6] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    const uint8_t display[6] = {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};
    SimBtReset();
    SimBtAddDevice(L"Pocket phone", phone, kSimBtAuthenticated);
    SimBtAddDevice(L"ZR47-0412", display, kSimBtAuthenticated);
    if (SimWmiInstall() != 1) {
        Say("the simulated WMI could not be registered in this Wine prefix");
        return false;
    }
    SimWmiReset();
    SimWmiAddPort(L"COM1", L"ACPI\\PNP0501\\1");
    SimWmiAddPort(L"COM4", L"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0000\\"
                           L"7&1D80ECD3&0&000000000000_000000000");
    SimWmiAddPort(L"COM12", L"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\"
                            L"7&1D80ECD3&0&123456789ABC_C00000000");
    Say("paired over Bluetooth: \"Pocket phone\", \"ZR47-0412\" (12:34:56:78:9A:BC)");
    Say("serial ports: COM1 (built in), COM4 (Bluetooth, no device), COM12 (Bluetooth, the "
        "display)");
    return true;
}

bool OpenAutomatically(ScreenReaderHost& host) {
    IBrailleDriver* driver = host.Driver();
    Say("host: Open(\"AUTO\") - the driver looks for the paired display itself");
    const DWORD start = GetTickCount();
    if (driver->Open("AUTO", &host, "demo host", "") != 1) {
        Say("Open failed");
        return false;
    }
    SimCall call{};
    for (int i = SimCallCount() - 1; i >= 0; --i) {
        if (SimGetCall(i, &call) && call.ordinal == 15)
            break;
    }
    Say("display library asked to open port \"%s\"; link %s after %lu ms",
        Narrow(call.portName).c_str(), SimIsLinkOpen() ? "up" : "down", GetTickCount() - start);
    Say("geometry: %d cells, %d status cells, %d in all; device version 0x%06X",
        driver->GetCellCount(), driver->GetStatusCellCount(), driver->GetTotalCellCount(),
        driver->GetDeviceVersion());
    return true;
}

void WriteText(IBrailleDriver* driver, const std::string& text) {
    const int width = driver->GetCellCount();
    const std::vector<uint8_t> cells = CellsOf(text, width);
    driver->WriteCells(cells.data(), width);
    Say("host writes \"%s\" as  %s", text.c_str(), BrailleLine(cells.data(), width).c_str());
}

void AwaitShown(IBrailleDriver* driver, const std::string& text, DWORD timeoutMs) {
    const int width = driver->GetCellCount();
    const std::vector<uint8_t> expected = CellsOf(text, width);
    const DWORD start = GetTickCount();
    uint8_t shown[kSimMaxCells] = {};
    while (GetTickCount() - start < timeoutMs) {
        SimGetCells(shown, width);
        if (memcmp(shown, expected.data(), static_cast<size_t>(width)) == 0)
            break;
        Sleep(5);
    }
    Say("display shows        %s", ShownOnDisplay(width).c_str());
}

struct ScriptedKey {
    const char* what;
    uint8_t dots, controls, routing;
};

void PressKeys(ScreenReaderHost& host) {
    const ScriptedKey keys[] = {
        {"left scroll key", 0x00, 0x01, 0x00}, {"routing key over cell 3", 0x00, 0x00, 0x03},
        {"joystick up", 0x00, 0x08, 0x00},     {"Space with dots 1 2", 0x03, 0x40, 0x00},
        {"dots 1 2 5 (h)", 0x13, 0x00, 0x00},  {"dots 2 4 (i)", 0x0A, 0x00, 0x00},
        {"Space alone", 0x00, 0x40, 0x00},     {"both scroll keys", 0x00, 0x81, 0x00},
    };
    for (const ScriptedKey& key : keys) {
        host.ClearRecords();
        const int before = SimKeysDelivered();
        SimPressKey(key.dots, key.controls, key.routing);
        host.PumpUntil([&] { return SimKeysDelivered() > before; }, 5000);
        if (!host.keys.empty()) {
            Say("press %-24s -> KeyPressed(\"%s\", routing %d)", key.what,
                host.keys[0].name.c_str(), host.keys[0].routingKey);
        } else if (!host.typed.empty()) {
            const uint8_t c = host.typed[0].Character();
            Say("press %-24s -> CharacterTyped('%c')%s", key.what, c,
                host.dotsAsked.empty() ? "" : "  (host's braille table asked)");
        } else {
            Say("press %-24s -> nothing reached the host", key.what);
        }
    }
}

// The display drops off the link while the host keeps writing, then comes back.
void DropAndRecover(ScreenReaderHost& host) {
    IBrailleDriver* driver = host.Driver();
    const int opensBefore = SimCountCalls(15);
    SimSetPresent(0);
    Say("the display drops off Bluetooth; the host goes on writing on every cursor move");
    int refused = 0;
    for (int i = 0; i < 60; ++i) {
        const std::string text = "line " + std::to_string(i);
        const std::vector<uint8_t> cells = CellsOf(text, driver->GetCellCount());
        if (driver->WriteCells(cells.data(), driver->GetCellCount()) == 0)
            ++refused;
        host.Pump(10);
    }
    Say("  %d writes refused at once while the link was down; host never blocked", refused);
    Say("  link %s; the driver tried to re-open it %d time(s)", SimIsLinkOpen() ? "up" : "down",
        SimCountCalls(15) - opensBefore);
    SimSetPresent(1);
    Say("the display comes back in range");
    const DWORD start = GetTickCount();
    while (!SimIsLinkOpen() && GetTickCount() - start < 15000) {
        const std::vector<uint8_t> cells = CellsOf("typing", driver->GetCellCount());
        driver->WriteCells(cells.data(), driver->GetCellCount());
        host.Pump(20);
    }
    Say("  link %s again after %lu ms, by itself", SimIsLinkOpen() ? "up" : "still down",
        GetTickCount() - start);
    host.Pump(1200); // the link settles before it takes output
    WriteText(driver, "back again");
    AwaitShown(driver, "back again", 5000);
}

// The display maker's library crashes inside a cell write. The driver contains
// it, the host goes on, and the next write reaches the display.
void LibraryCrashesDuringAWrite(ScreenReaderHost& host) {
    IBrailleDriver* driver = host.Driver();
    DebuggerOutput debugger;
    SimRaiseOnNext(3, 1, EXCEPTION_ACCESS_VIOLATION);
    Say("the display's library will crash (an access violation) in its next cell write");
    WriteText(driver, "crash");
    const DWORD start = GetTickCount();
    while (debugger.Total() == 0 && GetTickCount() - start < 5000)
        host.Pump(5);
    for (const std::string& line : debugger.Lines())
        Say("  the driver tells the debugger: %s", line.substr(0, line.find('\n')).c_str());
    Say("  the screen reader is still running; the driver answers %d cells",
        driver->GetCellCount());
    WriteText(driver, "still here");
    AwaitShown(driver, "still here", 5000);
}

// Serves the host's messages until the display shows the text; the time taken,
// or -1 after the timeout.
long WaitUntilShown(ScreenReaderHost& host, const std::string& text, DWORD timeoutMs) {
    const int width = host.Driver()->GetCellCount();
    const std::vector<uint8_t> expected = CellsOf(text, width);
    const DWORD start = GetTickCount();
    bool shown = false;
    host.PumpUntil(
        [&] {
            uint8_t cells[kSimMaxCells] = {};
            SimGetCells(cells, width);
            return shown = memcmp(cells, expected.data(), static_cast<size_t>(width)) == 0;
        },
        timeoutMs);
    return shown ? static_cast<long>(GetTickCount() - start) : -1;
}

// The usual morning: the screen reader opens the driver before the display is
// switched on, writes once, and is silent while the user listens.
void SwitchedOnAfterOpen(ScreenReaderHost& host) {
    IBrailleDriver* driver = host.Driver();
    driver->Close();
    SimSetPresent(0);
    driver->Open("COM12", &host, "demo host", "");
    Say("host opens the driver on COM12 while the display is still switched off: link %s",
        SimIsLinkOpen() ? "up" : "down");
    WriteText(driver, "good morning");
    Say("  the write is refused (the link is down); the host says nothing more");
    host.Pump(2000);
    SimSetPresent(1);
    Say("the user switches the display on, 2 s later");
    const long ms = WaitUntilShown(host, "good morning", 15000);
    Say("  link up by itself and the latest cells shown %ld ms later (the driver retries after "
        "5 s of silence)",
        ms);
    Say("display shows        %s", ShownOnDisplay(driver->GetCellCount()).c_str());
}

// The display drops off while the user reads, the host writes once into the
// gap and falls silent, and the display comes back.
void DropAndReturnWhileSilent(ScreenReaderHost& host) {
    IBrailleDriver* driver = host.Driver();
    WriteText(driver, "page one");
    AwaitShown(driver, "page one", 5000);
    SimSetPresent(0);
    Say("the display drops off Bluetooth");
    WriteText(driver, "page two");
    Say("  that write fails on the display; the host is not told, and says nothing more");
    host.Pump(3000);
    SimSetPresent(1);
    Say("the display comes back, 3 s later");
    const long ms = WaitUntilShown(host, "page two", 15000);
    Say("  link up again by itself and the latest cells shown %ld ms later", ms);
    Say("display shows        %s", ShownOnDisplay(driver->GetCellCount()).c_str());
}

void PressJoystickCentre(ScreenReaderHost& host) {
    host.ClearRecords();
    const int before = SimKeysDelivered();
    SimPressKey(0, 0x02, 0);
    host.PumpUntil([&] { return SimKeysDelivered() > before; }, 5000);
    Say("press joystick centre      -> KeyPressed(\"%s\")",
        host.keys.empty() ? "(nothing)" : host.keys[0].name.c_str());
}

// As Windows tells every top-level window, the screen reader's own among them.
// What the system tells every top-level window, sent from another thread while
// the host serves its messages.
void FromTheSystem(ScreenReaderHost& host, const std::function<void()>& send) {
    std::atomic<bool> done{false};
    std::thread system([&] {
        send();
        done = true;
    });
    host.PumpUntil([&] { return done.load(); }, 5000);
    system.join();
}

void BroadcastPower(ScreenReaderHost& host, WPARAM event) {
    FromTheSystem(host, [event] {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(HWND_BROADCAST, WM_POWERBROADCAST, event, 0, SMTO_ABORTIFHUNG, 1000,
                            &answer);
    });
}

// The lid closes while the user reads, and opens again: nobody calls the driver.
void SleepAndWake(ScreenReaderHost& host) {
    IBrailleDriver* driver = host.Driver();
    WriteText(driver, "before the lid");
    AwaitShown(driver, "before the lid", 5000);
    BroadcastPower(host, PBT_APMSUSPEND);
    Say("the computer goes to sleep (PBT_APMSUSPEND): link %s", SimIsLinkOpen() ? "up" : "closed");
    SimSleep();
    Say("  asleep: the display loses its link and shows nothing; the host says nothing");
    const DWORD start = GetTickCount();
    BroadcastPower(host, PBT_APMRESUMEAUTOMATIC);
    Say("the computer wakes (PBT_APMRESUMEAUTOMATIC)");
    const long ms = WaitUntilShown(host, "before the lid", 10000);
    Say("  link up again by itself and the latest cells shown %ld ms after the wake",
        ms < 0 ? -1L : static_cast<long>(GetTickCount() - start));
    Say("display shows        %s", ShownOnDisplay(driver->GetCellCount()).c_str());
    PressJoystickCentre(host);
}

// The user removes the display and pairs it again: Windows gives it COM14.
void RepairedOnANewPort(ScreenReaderHost& host) {
    IBrailleDriver* driver = host.Driver();
    WriteText(driver, "old port");
    AwaitShown(driver, "old port", 5000);
    if (!RepairDisplayOnNewPort()) {
        Say("the device records could not be changed");
        return;
    }
    SimSetDisplayPort(L"COM14");
    Say("the display is removed and paired again: its serial port is now COM14, COM12 is gone");
    WriteText(driver, "new port");
    Say("  that write fails on COM12; the host says nothing more");
    FromTheSystem(host, [] { BroadcastDeviceChange(DBT_DEVICEARRIVAL, L"COM14"); });
    Say("Windows tells every window: serial port COM14 arrived (WM_DEVICECHANGE, "
        "DBT_DEVICEARRIVAL)");
    const long ms = WaitUntilShown(host, "new port", 10000);
    Say("  the driver looked at the device records (no WMI, no port opened): link up on COM14 "
        "and the latest cells shown %ld ms after the broadcast",
        ms);
    Say("display shows        %s", ShownOnDisplay(driver->GetCellCount()).c_str());
}

void SuspendAndResume(ScreenReaderHost& host) {
    IBrailleDriver* driver = host.Driver();
    driver->SetSuspended(1);
    Say("host suspends the display: link %s", SimIsLinkOpen() ? "up" : "closed");
    const uint8_t cells[12] = {0x3F};
    Say("  a write while suspended answers %d", driver->WriteCells(cells, 12));
    driver->SetSuspended(0);
    Say("host resumes: link %s", SimIsLinkOpen() ? "up" : "closed");
    PressJoystickCentre(host);
}

} // namespace

int main() {
    SetConsoleOutputCP(CP_UTF8);
    Say("Braille display driver demo: a screen reader session on a simulated display");
    ScreenReaderHost host;
    if (!host.Load()) {
        Say("QornDriver.jlb did not load");
        return 1;
    }
    IBrailleDriver* driver = host.Driver();

    Heading("Load");
    ShowIdentity(driver);

    Heading("Finding the display's port");
    if (!PairTheDisplay() || !ListDemoPortRecords())
        return 1;
    CompareSearchWithWmiListing([](const char* line) { Say("%s", line); });

    Heading("Open");
    if (!OpenAutomatically(host))
        return 1;

    Heading("Braille output");
    WriteText(driver, "hello world!");
    AwaitShown(driver, "hello world!", 5000);

    Heading("Keys");
    PressKeys(host);

    Heading("The display drops off and comes back");
    DropAndRecover(host);

    Heading("The display's library crashes during a write");
    LibraryCrashesDuringAWrite(host);

    Heading("Suspend and resume");
    SuspendAndResume(host);

    Heading("The display is switched on after Open; the host is silent");
    SwitchedOnAfterOpen(host);

    Heading("The display drops off and comes back; the host is silent");
    DropAndReturnWhileSilent(host);

    Heading("The computer sleeps and wakes; the host is silent");
    SleepAndWake(host);

    Heading("The display is paired again and gets a new port; the host is silent");
    RepairedOnANewPort(host);

    Heading("Close");
    driver->Close();
    Say("host closes the driver: link %s", SimIsLinkOpen() ? "up" : "closed");
    host.Unload();
    SimWmiUseSystemWmi();
    Say("driver unloaded");

    Heading("Installer");
    RunInstallerStep([](const char* line) { Say("%s", line); });
    RemoveDemoPortRecords();
    return 0;
}
