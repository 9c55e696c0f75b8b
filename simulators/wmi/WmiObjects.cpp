// The simulated WMI objects: locator, services, serial-port enumerator, port.
#include <cwchar>
#include <new>

#define _WIN32_DCOM
#include <wbemidl.h>

#include "WmiState.h"

namespace {

#define NOT_SUPPORTED                                                                              \
    { return WBEM_E_NOT_SUPPORTED; }

// Reference counting shared by every object, counted among the live objects.
class Counted {
public:
    Counted() {
        WmiLock lock;
        ++lock.state().record.liveObjects;
    }
    virtual ~Counted() {
        WmiLock lock;
        --lock.state().record.liveObjects;
    }
    ULONG AddRefImpl() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG ReleaseImpl() {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

private:
    LONG references_ = 1;
};

HRESULT FailureAt(SimWmiStep step) {
    WmiLock lock;
    return lock.state().failures[step];
}

// How long handing out this port takes: the scripted delay for a Bluetooth port.
DWORD HandOutDelay(const SimPort& port) {
    static const wchar_t kBluetoothEnumerator[] = L"BTHENUM\\";
    if (port.pnpForm != kSimWmiText ||
        _wcsnicmp(port.pnpDeviceId.c_str(), kBluetoothEnumerator,
                  sizeof kBluetoothEnumerator / sizeof(wchar_t) - 1) != 0)
        return 0;
    WmiLock lock;
    return lock.state().bluetoothPortDelayMs;
}

class Port final : public IWbemClassObject, private Counted {
public:
    explicit Port(const SimPort& port) : port_(port) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IWbemClassObject) {
            *object = static_cast<IWbemClassObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type,
                                  LONG* flavor) override {
        {
            WmiLock lock;
            SimWmiRecord& record = lock.state().record;
            ++record.gets;
            if (flags != 0 || type != nullptr || flavor != nullptr)
                ++record.getExtras;
        }
        if (name == nullptr || value == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        if (lstrcmpiW(name, L"DeviceID") == 0)
            return Deliver(port_.deviceIdForm, port_.deviceId, value);
        if (lstrcmpiW(name, L"PNPDeviceID") == 0)
            return Deliver(port_.pnpForm, port_.pnpDeviceId, value);
        return WBEM_E_NOT_FOUND;
    }

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE EndEnumeration() override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR,
                                                      IWbemQualifierSet**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**,
                                        IWbemClassObject**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*,
                                        IWbemClassObject*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**,
                                         IWbemClassObject**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR,
                                                    IWbemQualifierSet**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override NOT_SUPPORTED;

private:
    static HRESULT Deliver(int form, const std::wstring& text, VARIANT* value) {
        VariantInit(value);
        switch (form) {
        case kSimWmiNull:
            value->vt = VT_NULL;
            return WBEM_S_NO_ERROR;
        case kSimWmiMissing:
            return WBEM_E_NOT_FOUND;
        case kSimWmiNumber:
            value->vt = VT_I4;
            value->lVal = 5;
            return WBEM_S_NO_ERROR;
        default:
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            return value->bstrVal != nullptr ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
        }
    }

    SimPort port_;
};

class PortList final : public IEnumWbemClassObject, private Counted {
public:
    explicit PortList(std::vector<SimPort> ports) : ports_(std::move(ports)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IEnumWbemClassObject) {
            *object = static_cast<IEnumWbemClassObject*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                   ULONG* returned) override {
        {
            WmiLock lock;
            SimWmiRecord& record = lock.state().record;
            ++record.nextCalls;
            record.nextTimeout = timeout;
            record.nextCount = count;
        }
        if (objects == nullptr || returned == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        ULONG given = 0;
        while (given < count && next_ < ports_.size()) {
            const DWORD delay = HandOutDelay(ports_[next_]);
            if (delay != 0)
                Sleep(delay);
            objects[given] = new (std::nothrow) Port(ports_[next_]);
            if (objects[given] == nullptr)
                break;
            ++given;
            ++next_;
        }
        *returned = given;
        WmiLock lock;
        lock.state().record.portsHandedOut += static_cast<int>(given);
        return given == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Reset() override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override NOT_SUPPORTED;

private:
    std::vector<SimPort> ports_;
    size_t next_ = 0;
};

class Services final : public IWbemServices, public IClientSecurity, private Counted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IWbemServices) {
            *object = static_cast<IWbemServices*>(this);
        } else if (iid == IID_IClientSecurity) {
            *object = static_cast<IClientSecurity*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    // Reached through CoSetProxyBlanket.
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD authn, DWORD authz, OLECHAR* principal,
                                         DWORD authnLevel, DWORD impLevel, void* identity,
                                         DWORD capabilities) override {
        {
            WmiLock lock;
            SimWmiRecord& record = lock.state().record;
            ++record.blankets;
            record.blanketAuthn = authn;
            record.blanketAuthz = authz;
            record.blanketAuthnLevel = authnLevel;
            record.blanketImpLevel = impLevel;
            record.blanketCapabilities = capabilities;
            if (principal != nullptr || identity != nullptr)
                ++record.blanketExtras;
        }
        return FailureAt(kSimWmiBlanket);
    }
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*,
                                           void**, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                        IWbemContext* context,
                                        IEnumWbemClassObject** ports) override {
        std::vector<SimPort> listed;
        HRESULT failure;
        {
            WmiLock lock;
            SimWmiRecord& record = lock.state().record;
            ++record.queries;
            CopyCut(record.queryLanguage, language);
            CopyCut(record.queryText, query);
            record.queryFlags = flags;
            record.queryContextGiven = context != nullptr;
            failure = lock.state().failures[kSimWmiQuery];
            listed = lock.state().ports;
        }
        if (ports == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        *ports = nullptr;
        if (FAILED(failure))
            return failure;
        *ports = new (std::nothrow) PortList(std::move(listed));
        return *ports != nullptr ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
    }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                        IWbemCallResult**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*,
                                       IWbemCallResult**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*,
                                            IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*,
                                          IWbemCallResult**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*,
                                               IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                              IEnumWbemClassObject**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*,
                                                   IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*,
                                          IWbemCallResult**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                               IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*,
                                             IWbemCallResult**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*,
                                                  IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*,
                                                 IEnumWbemClassObject**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                      IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG,
                                                         IWbemContext*,
                                                         IWbemObjectSink*) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*,
                                         IWbemClassObject*, IWbemClassObject**,
                                         IWbemCallResult**) override NOT_SUPPORTED;
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                              IWbemClassObject*,
                                              IWbemObjectSink*) override NOT_SUPPORTED;
};

class Locator final : public IWbemLocator, private Counted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IWbemLocator) {
            *object = static_cast<IWbemLocator*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR space, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG flags, const BSTR authority,
                                            IWbemContext* context,
                                            IWbemServices** services) override {
        {
            WmiLock lock;
            SimWmiRecord& record = lock.state().record;
            ++record.connects;
            CopyCut(record.connectNamespace, space);
            if (user != nullptr || password != nullptr || locale != nullptr || flags != 0 ||
                authority != nullptr || context != nullptr)
                ++record.connectExtras;
        }
        if (services == nullptr)
            return WBEM_E_INVALID_PARAMETER;
        *services = nullptr;
        const HRESULT failure = FailureAt(kSimWmiConnect);
        if (FAILED(failure))
            return failure;
        *services = new (std::nothrow) Services;
        return *services != nullptr ? WBEM_S_NO_ERROR : WBEM_E_OUT_OF_MEMORY;
    }
};

} // namespace

IUnknown* NewLocator() {
    {
        WmiLock lock;
        ++lock.state().record.locatorsCreated;
    }
    return new (std::nothrow) Locator;
}
