#include "SerialPortStage.h"

#define _WIN32_DCOM
#include <wbemidl.h>
#include <wrl/client.h>

#include "ComHandles.h"
#include "PortChoice.h"

namespace {

using Microsoft::WRL::ComPtr;

bool CreateLocator(ComPtr<IWbemLocator>& locator) {
    return SUCCEEDED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWbemLocator, &locator));
}

bool ConnectLocalCimv2(IWbemLocator* locator, ComPtr<IWbemServices>& services) {
    const Bstr space(L"ROOT\\CIMV2");
    return SUCCEEDED(locator->ConnectServer(space.get(), nullptr, nullptr, nullptr, 0, nullptr,
                                            nullptr, &services));
}

bool ImpersonateOnCalls(IWbemServices* services) {
    return SUCCEEDED(CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                       RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                       EOAC_NONE));
}

bool QuerySerialPorts(IWbemServices* services, ComPtr<IEnumWbemClassObject>& ports) {
    const Bstr language(L"WQL");
    const Bstr query(L"SELECT * FROM Win32_SerialPort");
    return SUCCEEDED(services->ExecQuery(language.get(), query.get(),
                                         WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                         nullptr, &ports));
}

// A property's text up to its terminator; false when the property is missing,
// null or of another type.
bool CopyText(const Variant& property, HRESULT getResult, std::wstring& text) {
    if (FAILED(getResult) || property.value().vt != VT_BSTR)
        return false;
    const BSTR value = property.value().bstrVal;
    text.assign(value != nullptr ? value : L"");
    return true;
}

// Offers one listed port to the chooser; a port without a usable DeviceID or
// PNPDeviceID is passed over. Returns true when the choice is final.
bool OfferPort(IWbemClassObject* port, const Bstr& deviceIdName, const Bstr& pnpName,
               PortChooser& chooser) {
    std::wstring deviceId;
    std::wstring pnpDeviceId;
    bool usable;
    {
        Variant deviceIdValue;
        Variant pnpValue;
        const HRESULT deviceIdResult =
            port->Get(deviceIdName.get(), 0, deviceIdValue.get(), nullptr, nullptr);
        const HRESULT pnpResult = port->Get(pnpName.get(), 0, pnpValue.get(), nullptr, nullptr);
        usable = CopyText(deviceIdValue, deviceIdResult, deviceId) &&
                 CopyText(pnpValue, pnpResult, pnpDeviceId);
    }
    if (!usable || deviceId.empty())
        return false;
    return chooser.Offer(deviceId, pnpDeviceId);
}

void ChooseAmongPorts(IEnumWbemClassObject* ports, PortChooser& chooser) {
    const Bstr deviceIdName(L"DeviceID");
    const Bstr pnpName(L"PNPDeviceID");
    for (;;) {
        ComPtr<IWbemClassObject> port;
        ULONG returned = 0;
        ports->Next(WBEM_INFINITE, 1, &port, &returned);
        if (returned == 0 || !port)
            return;
        if (OfferPort(port.Get(), deviceIdName, pnpName, chooser))
            return;
    }
}

} // namespace

bool FindSerialPort(const std::wstring& addressText, std::wstring& deviceId) {
    // Declared in this order so that the interfaces go before COM itself.
    // COM security belongs to the process (set at most once, by its program):
    // the search leaves it alone and asks for impersonation on its own proxy.
    ComApartment apartment;
    if (!apartment.joined())
        return false;
    ComPtr<IWbemLocator> locator;
    if (!CreateLocator(locator))
        return false;
    ComPtr<IWbemServices> services;
    if (!ConnectLocalCimv2(locator.Get(), services) || !ImpersonateOnCalls(services.Get()))
        return false;
    ComPtr<IEnumWbemClassObject> ports;
    if (!QuerySerialPorts(services.Get(), ports))
        return false;
    PortChooser chooser(addressText);
    ChooseAmongPorts(ports.Get(), chooser);
    deviceId = chooser.chosen();
    return true;
}
