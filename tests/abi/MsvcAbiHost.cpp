// A host built with Microsoft's C++ ABI, like the screen reader: it declares the
// driver's table and the callback interface itself, loads QornDriver.jlb, calls
// every slot through its own declaration and checks what comes back. It uses no
// C or C++ runtime, only kernel32 and user32. Exit code: the number of failures.

typedef unsigned char u8;
typedef unsigned short u16;
typedef unsigned int u32;
typedef unsigned long long u64;
typedef void* HANDLE;
typedef void* HMODULE;
typedef void* HWND;
typedef int BOOL;

struct Guid {
    u32 data1;
    u16 data2, data3;
    u8 data4[8];
};

struct Msg {
    HWND hwnd;
    u32 message;
    u64 wParam;
    long long lParam;
    u32 time;
    long x, y;
    u32 lPrivate;
};

extern "C" {
__declspec(dllimport) HMODULE __stdcall LoadLibraryA(const char*);
__declspec(dllimport) BOOL __stdcall FreeLibrary(HMODULE);
__declspec(dllimport) void* __stdcall GetProcAddress(HMODULE, const char*);
__declspec(dllimport) HMODULE __stdcall GetModuleHandleA(const char*);
__declspec(dllimport) HANDLE __stdcall GetStdHandle(u32);
__declspec(dllimport) BOOL __stdcall WriteFile(HANDLE, const void*, u32, u32*, void*);
__declspec(dllimport) void __stdcall ExitProcess(u32);
__declspec(dllimport) void __stdcall Sleep(u32);
__declspec(dllimport) u32 __stdcall GetTickCount();
__declspec(dllimport) BOOL __stdcall PeekMessageA(Msg*, HWND, u32, u32, u32);
__declspec(dllimport) BOOL __stdcall TranslateMessage(const Msg*);
__declspec(dllimport) long long __stdcall DispatchMessageA(const Msg*);
__declspec(dllimport) u32 __stdcall MsgWaitForMultipleObjects(u32, const HANDLE*, BOOL, u32, u32);

// The compiler may emit calls to these for copies and clears.
void* memset(void* destination, int value, u64 size) {
    volatile u8* d = static_cast<u8*>(destination);
    for (u64 i = 0; i < size; ++i)
        d[i] = static_cast<u8>(value);
    return destination;
}
void* memcpy(void* destination, const void* source, u64 size) {
    volatile u8* d = static_cast<u8*>(destination);
    const u8* s = static_cast<const u8*>(source);
    for (u64 i = 0; i < size; ++i)
        d[i] = s[i];
    return destination;
}
int _purecall() {
    return 0;
}
}

// ---- The two interfaces, declared from the table of slots ----

class IBrailleDriver;

class IBrailleHostCallback {
public:
    virtual int KeyPressed(IBrailleDriver* driver, const char* keyName, int routingKey) = 0;
    virtual int CharacterTyped(IBrailleDriver* driver, const char* record, int length) = 0;
    virtual wchar_t DotsToCharacter(IBrailleDriver* driver, int dotKeys) = 0;
};

class IBrailleDriver {
public:
    virtual int Open(const char* port, IBrailleHostCallback* callback, const char* text1,
                     const char* text2) = 0;                                  // 0
    virtual void Close() = 0;                                                 // 1
    virtual IBrailleHostCallback* SetHostCallback(IBrailleHostCallback*) = 0; // 2
    virtual int GetHostText1(char* buffer, int size) = 0;                     // 3
    virtual int GetHostText2(char* buffer, int size) = 0;                     // 4
    virtual int GetDisplayName(char* buffer, int size) = 0;                   // 5
    virtual int GetDriverAttributes() = 0;                                    // 6
    virtual int GetDriverVersion() = 0;                                       // 7
    virtual int GetDeviceVersion() = 0;                                       // 8
    virtual int Slot9() = 0;
    virtual int Slot10() = 0;
    virtual int WriteCells(const u8* cells, int count) = 0;        // 11
    virtual int WriteStatusCells(const u8* cells, int length) = 0; // 12
    virtual int ClearDisplay() = 0;                                // 13
    virtual int Slot14() = 0;
    virtual int Slot15() = 0;
    virtual int SetSuspended(int suspend) = 0; // 16
    virtual void Slot17() = 0;
    virtual int GetCellCount() = 0; // 18
    virtual int Slot19() = 0;
    virtual int GetStatusCellCount() = 0; // 20
    virtual int GetTotalCellCount() = 0;  // 21
    virtual int Slot22() = 0;
    virtual int Slot23() = 0;
    virtual int Slot24() = 0;
    virtual int Slot25() = 0;
    virtual int Slot26() = 0;
    virtual int Slot27() = 0;
    virtual int Slot28() = 0;
    virtual int Slot29() = 0;
    virtual void Slot30() = 0;
    virtual int Slot31() = 0;
    virtual void Slot32() = 0;
    virtual int Slot33() = 0;
    virtual int GetManufacturer(char* buffer, int size, Guid* guid) = 0; // 34
    virtual void Slot35() = 0;
    virtual void Slot36() = 0;
};

typedef IBrailleDriver* (*GetBrailleInterfaceFn)(IBrailleDriver**);

// ---- Output and checks ----

namespace {

int g_failures = 0;

void Print(const char* text) {
    u32 length = 0;
    while (text[length] != '\0')
        ++length;
    u32 written = 0;
    WriteFile(GetStdHandle(static_cast<u32>(-11)), text, length, &written, nullptr);
}

void PrintNumber(long long value) {
    char digits[24];
    int at = 23;
    digits[at] = '\0';
    const bool negative = value < 0;
    unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(value)
                                            : static_cast<unsigned long long>(value);
    do {
        digits[--at] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative)
        digits[--at] = '-';
    Print(digits + at);
}

void Check(bool ok, const char* what) {
    Print(ok ? "ok    " : "FAIL  ");
    Print(what);
    Print("\n");
    if (!ok)
        ++g_failures;
}

void CheckNumber(long long got, long long expected, const char* what) {
    Check(got == expected, what);
    if (got != expected) {
        Print("      got ");
        PrintNumber(got);
        Print(", expected ");
        PrintNumber(expected);
        Print("\n");
    }
}

bool SameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// ---- The host's callback object ----

class Host : public IBrailleHostCallback {
public:
    IBrailleDriver* expectedDriver = nullptr;
    int keyCalls = 0;
    char lastName[160] = {};
    int lastRouting = -1;
    int typedCalls = 0;
    u8 lastRecord[4] = {};
    int lastLength = 0;
    int dotsCalls = 0;
    int lastDots = 0;
    bool wrongDriver = false;

    int KeyPressed(IBrailleDriver* driver, const char* keyName, int routingKey) override {
        wrongDriver |= driver != expectedDriver;
        ++keyCalls;
        int i = 0;
        for (; keyName[i] != '\0' && i < 159; ++i)
            lastName[i] = keyName[i];
        lastName[i] = '\0';
        lastRouting = routingKey;
        return 1;
    }
    int CharacterTyped(IBrailleDriver* driver, const char* record, int length) override {
        wrongDriver |= driver != expectedDriver;
        ++typedCalls;
        for (int i = 0; i < 4; ++i)
            lastRecord[i] = static_cast<u8>(record[i]);
        lastLength = length;
        return 1;
    }
    wchar_t DotsToCharacter(IBrailleDriver* driver, int dotKeys) override {
        wrongDriver |= driver != expectedDriver;
        ++dotsCalls;
        lastDots = dotKeys;
        return dotKeys == 0x01 ? L'a' : 0;
    }
};

// ---- The simulated display's controls ----

typedef void (*PressKeyFn)(u8, u8, u8);
typedef int (*CountFn)();
typedef int (*GetCellsFn)(u8*, int);

struct Display {
    PressKeyFn press = nullptr;
    CountFn keysDelivered = nullptr;
    GetCellsFn getCells = nullptr;
    CountFn linkOpen = nullptr;
};

void ServeMessagesUntil(bool (*done)(void*), void* context, u32 timeoutMs) {
    const u32 start = GetTickCount();
    while (!done(context) && GetTickCount() - start < timeoutMs) {
        Msg msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, 1)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, 0, 10, 0x04FF);
    }
}

struct PressWait {
    Display* display;
    int before;
};

void Press(Display& display, u8 dots, u8 controls, u8 routing) {
    PressWait wait{&display, display.keysDelivered()};
    display.press(dots, controls, routing);
    ServeMessagesUntil(
        [](void* c) {
            auto* w = static_cast<PressWait*>(c);
            return w->display->keysDelivered() > w->before;
        },
        &wait, 5000);
}

// ---- The run ----

void CheckQueries(IBrailleDriver* driver) {
    CheckNumber(driver->GetDriverAttributes(), 768, "slot 6 GetDriverAttributes");
    CheckNumber(driver->GetDriverVersion(), 0x01000A01, "slot 7 GetDriverVersion");
    CheckNumber(driver->GetDeviceVersion(), 0, "slot 8 GetDeviceVersion before Open");
    CheckNumber(driver->GetCellCount(), 0, "slot 18 GetCellCount before Open");
    CheckNumber(driver->GetStatusCellCount(), 0, "slot 20 GetStatusCellCount before Open");
    CheckNumber(driver->GetTotalCellCount(), 0, "slot 21 GetTotalCellCount before Open");
    char name[16];
    CheckNumber(driver->GetDisplayName(name, 16), 8, "slot 5 GetDisplayName length");
    Check(SameText(name, "Lumivo12"), "slot 5 GetDisplayName text");
    CheckNumber(driver->GetDisplayName(name, 5), 4, "slot 5 GetDisplayName cut to 4");
    char maker[32];
    Guid guid = {};
    CheckNumber(driver->GetManufacturer(maker, 32, &guid), 1, "slot 34 GetManufacturer");
    Check(SameText(maker, "Mirel Tactus Co"), "slot 34 manufacturer text");
    Check(guid.data1 == 0x6B1D27A4 && guid.data2 == 0x93C5 && guid.data3 == 0x4E0F &&
              guid.data4[0] == 0xA2 && guid.data4[7] == 0x60,
          "slot 34 GUID");
    const int unnamed = driver->Slot9() | driver->Slot10() | driver->Slot14() | driver->Slot15() |
                        driver->Slot19() | driver->Slot22() | driver->Slot23() | driver->Slot24() |
                        driver->Slot25() | driver->Slot26() | driver->Slot27() | driver->Slot28() |
                        driver->Slot29() | driver->Slot31() | driver->Slot33();
    driver->Slot17();
    driver->Slot30();
    driver->Slot32();
    driver->Slot35();
    driver->Slot36();
    CheckNumber(unnamed, 0, "unnamed slots answer 0");
}

void CheckSession(IBrailleDriver* driver, Host& host, Display& display) {
    CheckNumber(reinterpret_cast<long long>(driver->SetHostCallback(&host)), 0,
                "slot 2 SetHostCallback first answer");
    CheckNumber(driver->Open("com5", &host, "first text", "second text"), 1, "slot 0 Open");
    CheckNumber(driver->GetCellCount(), 12, "cells after Open");
    CheckNumber(driver->GetDeviceVersion(), 0x010402, "device version with the link up");
    char text[32];
    CheckNumber(driver->GetHostText1(text, 32), 10, "slot 3 GetHostText1");
    Check(SameText(text, "first text"), "slot 3 text");
    CheckNumber(driver->GetHostText2(text, 32), 11, "slot 4 GetHostText2");
    CheckNumber(reinterpret_cast<long long>(driver->SetHostCallback(&host)),
                reinterpret_cast<long long>(&host), "slot 2 answers the previous callback");

    const u8 cells[12] = {0x01, 0x03, 0x09, 0x19, 0x11, 0x0B, 0x1B, 0x13, 0x0A, 0x1A, 0x05, 0x07};
    Check(driver->WriteCells(cells, 12) != 0, "slot 11 WriteCells");
    u8 shown[12] = {};
    const u32 start = GetTickCount();
    while (GetTickCount() - start < 5000) {
        display.getCells(shown, 12);
        if (shown[11] == 0x07)
            break;
        Sleep(5);
    }
    bool same = true;
    for (int i = 0; i < 12; ++i)
        same &= shown[i] == cells[i];
    Check(same, "the display shows the cells written");
    Check(driver->WriteStatusCells(cells, 2) != 0, "slot 12 WriteStatusCells");
    Check(driver->ClearDisplay() != 0, "slot 13 ClearDisplay");

    Press(display, 0, 0x01, 0);
    CheckNumber(host.keyCalls, 1, "callback slot 0 KeyPressed called");
    Check(SameText(host.lastName, "LeftScroll"), "key name LeftScroll");
    Press(display, 0x15, 0, 7);
    Check(SameText(host.lastName, "Dots 1 3 5+Routing"), "key name Dots 1 3 5+Routing");
    CheckNumber(host.lastRouting, 7, "routing number");
    Press(display, 0x01, 0, 0);
    CheckNumber(host.dotsCalls, 1, "callback slot 2 DotsToCharacter called");
    CheckNumber(host.lastDots, 0x01, "dots asked");
    CheckNumber(host.typedCalls, 1, "callback slot 1 CharacterTyped called");
    CheckNumber(host.lastRecord[0] ^ host.lastRecord[1] ^ host.lastRecord[2], 'a',
                "typed record gives back the character");
    CheckNumber(host.lastLength, 3, "typed record length");
    Check(!host.wrongDriver, "the driver passes itself to every callback");

    Check(driver->SetSuspended(1) != 0, "slot 16 SetSuspended(1)");
    Check(driver->SetSuspended(0) != 0, "slot 16 SetSuspended(0)");
    driver->Close();
    CheckNumber(display.linkOpen(), 0, "slot 1 Close closed the link");
}

} // namespace

extern "C" void HostMain() {
    HMODULE library = LoadLibraryA("QornDriver.jlb");
    Check(library != nullptr, "LoadLibraryA QornDriver.jlb");
    if (library == nullptr)
        ExitProcess(1);
    auto get =
        reinterpret_cast<GetBrailleInterfaceFn>(GetProcAddress(library, "GetBrailleInterface"));
    Check(get != nullptr, "export GetBrailleInterface");
    if (get == nullptr)
        ExitProcess(1);
    IBrailleDriver* driver = nullptr;
    IBrailleDriver* again = nullptr;
    Check(get(&driver) == driver && driver != nullptr, "GetBrailleInterface hands out the object");
    get(&again);
    Check(again == driver, "the same object every time");

    HMODULE device = GetModuleHandleA("QornTI.dll");
    Display display;
    display.press = reinterpret_cast<PressKeyFn>(GetProcAddress(device, "SimPressKey"));
    display.keysDelivered = reinterpret_cast<CountFn>(GetProcAddress(device, "SimKeysDelivered"));
    display.getCells = reinterpret_cast<GetCellsFn>(GetProcAddress(device, "SimGetCells"));
    display.linkOpen = reinterpret_cast<CountFn>(GetProcAddress(device, "SimIsLinkOpen"));
    const bool controls =
        display.press && display.keysDelivered && display.getCells && display.linkOpen;
    Check(controls, "simulated display controls");
    if (!controls)
        ExitProcess(1);

    Host host;
    host.expectedDriver = driver;
    CheckQueries(driver);
    CheckSession(driver, host, display);
    Check(FreeLibrary(library) != 0, "FreeLibrary");
    Print(g_failures == 0 ? "all checks passed\n" : "some checks FAILED\n");
    ExitProcess(static_cast<u32>(g_failures));
}
