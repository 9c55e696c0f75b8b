#include "DeviceRecordsStage.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <functional>
#include <vector>

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
#include <cfgmgr32.h>

#include "Parameters.h"
#include "PortChoice.h"

namespace {

// A handle of SetupAPI's or the registry's, let go of by Release when the
// owner goes; null and INVALID_HANDLE_VALUE are none.
template <typename Handle, auto Release> class Owned {
public:
    explicit Owned(Handle handle) : handle_(handle) {}
    ~Owned() {
        if (valid())
            Release(handle_);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    bool valid() const {
        return handle_ != nullptr && handle_ != reinterpret_cast<Handle>(INVALID_HANDLE_VALUE);
    }
    Handle get() const { return handle_; }

private:
    Handle handle_;
};

using DeviceSet = Owned<HDEVINFO, SetupDiDestroyDeviceInfoList>;
using OpenKey = Owned<HKEY, RegCloseKey>;

// The text of a registry string up to its first terminator, or to the end of
// the data when it has none (the registry does not insist on one); an odd last
// byte is no code unit and is left out.
std::wstring RegistryText(const std::vector<BYTE>& data, DWORD bytes) {
    const size_t units = std::min<size_t>(bytes, data.size()) / sizeof(wchar_t);
    std::wstring text(units, L'\0');
    if (units != 0)
        memcpy(&text[0], data.data(), units * sizeof(wchar_t));
    return text.substr(0, wcsnlen(text.c_str(), units));
}

bool ReadInstanceId(HDEVINFO set, SP_DEVINFO_DATA& device, std::wstring& id) {
    std::vector<wchar_t> buffer(MAX_DEVICE_ID_LEN, L'\0');
    for (int attempt = 0; attempt < qorn::kRecordReadAttempts; ++attempt) {
        DWORD required = 0;
        if (SetupDiGetDeviceInstanceIdW(set, &device, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), &required)) {
            id.assign(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || required <= buffer.size())
            return false;
        buffer.assign(required, L'\0');
    }
    return false;
}

// PortName from the device's hardware key; false when there is no such key or
// value, or the value is not a string.
bool ReadPortName(HDEVINFO set, SP_DEVINFO_DATA& device, std::wstring& name) {
    const OpenKey key(SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
    if (!key.valid())
        return false;
    std::vector<BYTE> data(qorn::kPortNameFirstReadChars * sizeof(wchar_t));
    for (int attempt = 0; attempt < qorn::kRecordReadAttempts; ++attempt) {
        DWORD type = REG_NONE;
        DWORD bytes = static_cast<DWORD>(data.size());
        const LONG read =
            RegQueryValueExW(key.get(), L"PortName", nullptr, &type, data.data(), &bytes);
        if (read == ERROR_SUCCESS) {
            if (type != REG_SZ)
                return false;
            name = RegistryText(data, bytes);
            return true;
        }
        if (read != ERROR_MORE_DATA || bytes <= data.size())
            return false;
        data.resize(bytes);
    }
    return false;
}

// Calls visit(instanceId, portName) for each record with both, in the order
// the system lists them. False when the records cannot be listed to the end.
bool ForEachPortRecord(const std::function<void(const std::wstring&, const std::wstring&)>& visit) {
    // The present devices of the Ports class.
    const DeviceSet set(
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
    if (!set.valid())
        return false;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device = {};
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set.get(), index, &device))
            return GetLastError() == ERROR_NO_MORE_ITEMS;
        std::wstring instanceId;
        std::wstring portName;
        if (!ReadInstanceId(set.get(), device, instanceId) ||
            !ReadPortName(set.get(), device, portName) || portName.empty())
            continue;
        visit(instanceId, portName);
    }
}

} // namespace

// The listing goes on past a final choice, so that every port is listed.
bool FindPortInDeviceRecords(const std::wstring& addressText, std::wstring& portName,
                             std::vector<ListedPort>* listed) {
    PortChooser chooser(addressText);
    if (!ForEachPortRecord([&](const std::wstring& instanceId, const std::wstring& name) {
            chooser.Offer(name, instanceId);
            if (listed != nullptr)
                listed->push_back(ListedPort{name, chooser.Names(instanceId)});
        }))
        return false;
    portName = chooser.chosen();
    return true;
}
