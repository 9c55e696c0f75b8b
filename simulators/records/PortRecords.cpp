#include "PortRecords.h"

#include <cwchar>
#include <vector>

#include <windows.h>
#include <dbt.h>

namespace {

constexpr wchar_t kEnumKey[] = L"System\\CurrentControlSet\\Enum";
constexpr wchar_t kPortsClass[] = L"{4D36E978-E325-11CE-BFC1-08002BE10318}";

// A key of HKLM, closed with its owner.
class Key {
public:
    Key() = default;
    ~Key() {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    bool Create(HKEY parent, const std::wstring& path) {
        return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                               nullptr) == ERROR_SUCCESS;
    }
    bool Open(HKEY parent, const std::wstring& path) {
        return RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key_) == ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

bool SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t bytes) {
    return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                          static_cast<DWORD>(bytes)) == ERROR_SUCCESS;
}

bool SetPortName(HKEY record, const std::wstring& portName, PortNameForm form) {
    if (form == PortNameForm::kNoHardwareKey)
        return true;
    Key parameters;
    if (!parameters.Create(record, L"Device Parameters"))
        return false;
    const size_t textBytes = portName.size() * sizeof(wchar_t);
    std::vector<char> oddBytes(textBytes + 1, 'x');
    if (textBytes != 0)
        memcpy(oddBytes.data(), portName.data(), textBytes);
    const DWORD number = 12;
    switch (form) {
    case PortNameForm::kText:
        return SetValue(parameters.get(), L"PortName", REG_SZ, portName.c_str(),
                        textBytes + sizeof(wchar_t));
    case PortNameForm::kUnterminated:
        return SetValue(parameters.get(), L"PortName", REG_SZ, portName.data(), textBytes);
    case PortNameForm::kOddBytes:
        return SetValue(parameters.get(), L"PortName", REG_SZ, oddBytes.data(), oddBytes.size());
    case PortNameForm::kNumber:
        return SetValue(parameters.get(), L"PortName", REG_DWORD, &number, sizeof number);
    default:
        return true;
    }
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD chars = 256;
        if (RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return names;
        names.emplace_back(name, chars);
    }
}

bool IsPortsRecord(HKEY enumKey, const std::wstring& path) {
    wchar_t classGuid[64] = {};
    DWORD bytes = sizeof classGuid - sizeof(wchar_t);
    return RegGetValueW(enumKey, path.c_str(), L"ClassGUID", RRF_RT_REG_SZ, nullptr, classGuid,
                        &bytes) == ERROR_SUCCESS &&
           lstrcmpiW(classGuid, kPortsClass) == 0;
}

// The instance IDs of every Ports-class record (enumerator\device\instance).
std::vector<std::wstring> PortsRecordIds(HKEY enumKey) {
    std::vector<std::wstring> ids;
    for (const std::wstring& enumerator : SubkeyNames(enumKey)) {
        Key enumeratorKey;
        if (!enumeratorKey.Open(enumKey, enumerator))
            continue;
        for (const std::wstring& device : SubkeyNames(enumeratorKey.get())) {
            Key deviceKey;
            if (!deviceKey.Open(enumeratorKey.get(), device))
                continue;
            for (const std::wstring& instance : SubkeyNames(deviceKey.get())) {
                const std::wstring id = enumerator + L"\\" + device + L"\\" + instance;
                if (IsPortsRecord(enumKey, id))
                    ids.push_back(id);
            }
        }
    }
    return ids;
}

} // namespace

std::wstring BluetoothPortId(const std::wstring& address, const std::wstring& lastPart) {
    return L"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1D80ECD3&0&" +
           address + L"_" + lastPart;
}

bool AddPortRecord(const std::wstring& instanceId, const std::wstring& portName,
                   PortNameForm form) {
    Key record;
    if (!record.Create(HKEY_LOCAL_MACHINE, std::wstring(kEnumKey) + L"\\" + instanceId))
        return false;
    return SetValue(record.get(), L"ClassGUID", REG_SZ, kPortsClass, sizeof kPortsClass) &&
           SetPortName(record.get(), portName, form);
}

bool RemovePortRecord(const std::wstring& instanceId) {
    const std::wstring path = std::wstring(kEnumKey) + L"\\" + instanceId;
    return RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS;
}

bool RemoveAllPortRecords() {
    Key enumKey;
    if (!enumKey.Open(HKEY_LOCAL_MACHINE, kEnumKey))
        return false;
    for (const std::wstring& id : PortsRecordIds(enumKey.get()))
        RemovePortRecord(id);
    return PortsRecordIds(enumKey.get()).empty();
}

bool BroadcastDeviceChange(unsigned event, const wchar_t* port) {
    struct {
        DEV_BROADCAST_PORT_W header;
        wchar_t name[32];
    } data = {};
    data.header.dbcp_size = sizeof data;
    data.header.dbcp_devicetype = DBT_DEVTYP_PORT;
    if (port != nullptr)
        wcsncpy(data.header.dbcp_name, port, 31);
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, event,
                               port != nullptr ? reinterpret_cast<LPARAM>(&data) : 0,
                               SMTO_ABORTIFHUNG, 1000, &answer) != 0;
}
