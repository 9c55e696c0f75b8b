// The simulated WMI's state, script, class factory and registration.
#include "SimulatedWmi.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <new>

#define _WIN32_DCOM
#include <wbemidl.h>

#include "ScriptFile.h"
#include "WmiState.h"

namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
WmiState* g_state = nullptr; // made on first use, never freed: objects may outlive unloading
bool g_scriptLoaded = false;

// Splits a UTF-8 line "port<TAB>DeviceID<TAB>PNPDeviceID" into the port it names.
bool ParsePortLine(const std::string& line, SimPort& port) {
    const size_t first = line.find('\t');
    if (first == std::string::npos || line.compare(0, first, "port") != 0)
        return false;
    const size_t second = line.find('\t', first + 1);
    if (second == std::string::npos)
        return false;
    auto widen = [](const std::string& text) {
        std::wstring wide(text.size(), L'\0');
        const int length =
            MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                static_cast<int>(wide.size()));
        wide.resize(length > 0 ? static_cast<size_t>(length) : 0);
        return wide;
    };
    port = SimPort{kSimWmiText, widen(line.substr(first + 1, second - first - 1)), kSimWmiText,
                   widen(line.substr(second + 1))};
    return true;
}

// Applies a UTF-8 line "fail<TAB>step<TAB>HRESULT", the step named as in
// kFailSteps and the result in hexadecimal (0x80004005).
bool ParseFailLine(const std::string& line, WmiState& state) {
    static const char* const kFailSteps[kSimWmiStepCount] = {"locator", "connect", "blanket",
                                                             "query"};
    const size_t first = line.find('\t');
    if (first == std::string::npos || line.compare(0, first, "fail") != 0)
        return false;
    const size_t second = line.find('\t', first + 1);
    if (second == std::string::npos)
        return false;
    const std::string step = line.substr(first + 1, second - first - 1);
    for (int i = 0; i < kSimWmiStepCount; ++i) {
        if (step == kFailSteps[i]) {
            state.failures[i] =
                static_cast<HRESULT>(strtoul(line.c_str() + second + 1, nullptr, 16));
            return true;
        }
    }
    return false;
}

// Applies a line "bluetooth-port-delay<TAB>milliseconds".
bool ParseDelayLine(const std::string& line, WmiState& state) {
    static const char kPrefix[] = "bluetooth-port-delay\t";
    if (line.compare(0, sizeof kPrefix - 1, kPrefix) != 0)
        return false;
    state.bluetoothPortDelayMs = strtoul(line.c_str() + sizeof kPrefix - 1, nullptr, 10);
    return true;
}

// A separate program is scripted through a file named in QORN_SIM_WMI.
void LoadScriptFile(WmiState& state) {
    const std::wstring path = ScriptFilePath(L"QORN_SIM_WMI");
    if (path.empty())
        return;
    state.active = true;
    ForEachScriptLine(path, [&](const std::string& line) {
        SimPort port;
        if (ParsePortLine(line, port))
            state.ports.push_back(port);
        else if (!ParseDelayLine(line, state))
            ParseFailLine(line, state);
    });
}

class LocatorFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static: its references are not counted.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        HRESULT failure;
        {
            WmiLock lock;
            failure = lock.state().failures[kSimWmiCreateLocator];
        }
        if (FAILED(failure))
            return failure;
        IUnknown* locator = NewLocator();
        if (locator == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT result = locator->QueryInterface(iid, object);
        locator->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

LocatorFactory g_factory;

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

// The system's own WMI locator server, for callers while the stand-in is inactive.
HRESULT SystemClassObject(REFCLSID clsid, REFIID iid, void** object) {
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 20 >= MAX_PATH)
        return CLASS_E_CLASSNOTAVAILABLE;
    wcscat(path, L"\\wbem\\wbemprox.dll");
    const HMODULE system = LoadLibraryW(path); // kept: its objects may live long
    if (system == nullptr)
        return CLASS_E_CLASSNOTAVAILABLE;
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(system, "DllGetClassObject")));
    return get != nullptr ? get(clsid, iid, object) : CLASS_E_CLASSNOTAVAILABLE;
}

constexpr wchar_t kLocatorServerKey[] =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";

bool SetText(HKEY key, const wchar_t* name, const wchar_t* value) {
    const DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes) ==
           ERROR_SUCCESS;
}

} // namespace

WmiLock::WmiLock() {
    AcquireSRWLockExclusive(&g_lock);
    if (g_state == nullptr)
        g_state = new WmiState;
    if (!g_scriptLoaded) {
        g_scriptLoaded = true;
        LoadScriptFile(*g_state);
    }
}

WmiLock::~WmiLock() {
    ReleaseSRWLockExclusive(&g_lock);
}

WmiState& WmiLock::state() {
    return *g_state;
}

void CopyCut(wchar_t (&to)[kSimWmiTextChars], const wchar_t* from) {
    to[0] = L'\0';
    if (from != nullptr)
        wcsncat(to, from, kSimWmiTextChars - 1);
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_WbemLocator)
        return CLASS_E_CLASSNOTAVAILABLE;
    bool active;
    {
        WmiLock lock;
        active = lock.state().active;
    }
    if (!active)
        return SystemClassObject(clsid, iid, object);
    return g_factory.QueryInterface(iid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
    return SimWmiInstall() ? S_OK : E_FAIL;
}

SIM_WMI_API int SimWmiInstall() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(ThisModule(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 0;
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLocatorServerKey, 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 0;
    const bool written = SetText(key, nullptr, path) && SetText(key, L"ThreadingModel", L"Both");
    RegCloseKey(key);
    return written ? 1 : 0;
}

SIM_WMI_API void SimWmiReset() {
    WmiLock lock;
    WmiState& state = lock.state();
    const LONG live = state.record.liveObjects;
    state.active = true;
    state.ports.clear();
    for (HRESULT& failure : state.failures)
        failure = S_OK;
    state.bluetoothPortDelayMs = 0;
    state.record = SimWmiRecord{};
    state.record.liveObjects = live; // objects still held stay counted
}

SIM_WMI_API void SimWmiUseSystemWmi() {
    WmiLock lock;
    lock.state().active = false;
}

SIM_WMI_API void SimWmiAddPort(const wchar_t* deviceId, const wchar_t* pnpDeviceId) {
    SimWmiAddOddPort(kSimWmiText, deviceId, kSimWmiText, pnpDeviceId);
}

SIM_WMI_API void SimWmiAddOddPort(int deviceIdForm, const wchar_t* deviceId, int pnpForm,
                                  const wchar_t* pnpDeviceId) {
    WmiLock lock;
    lock.state().ports.push_back(SimPort{deviceIdForm, deviceId != nullptr ? deviceId : L"",
                                         pnpForm, pnpDeviceId != nullptr ? pnpDeviceId : L""});
}

SIM_WMI_API void SimWmiFailAt(int step, HRESULT result) {
    if (step < 0 || step >= kSimWmiStepCount)
        return;
    WmiLock lock;
    lock.state().failures[step] = result;
}

SIM_WMI_API void SimWmiSetBluetoothPortDelay(DWORD milliseconds) {
    WmiLock lock;
    lock.state().bluetoothPortDelayMs = milliseconds;
}

SIM_WMI_API void SimWmiGetRecord(SimWmiRecord* record) {
    if (record == nullptr)
        return;
    WmiLock lock;
    *record = lock.state().record;
}
