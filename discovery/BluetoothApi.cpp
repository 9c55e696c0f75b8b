#include "BluetoothApi.h"

namespace {

template <typename Function> Function Resolve(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

SystemBluetoothLibrary::SystemBluetoothLibrary(const wchar_t* moduleName)
    : module_(LoadLibraryExW(moduleName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (module_ == nullptr)
        return;
    api_.findFirstDevice =
        Resolve<BluetoothApi::FindFirstDevice>(module_, "BluetoothFindFirstDevice");
    api_.findNextDevice = Resolve<BluetoothApi::FindNextDevice>(module_, "BluetoothFindNextDevice");
    api_.findDeviceClose =
        Resolve<BluetoothApi::FindDeviceClose>(module_, "BluetoothFindDeviceClose");
}

SystemBluetoothLibrary::~SystemBluetoothLibrary() {
    if (module_ != nullptr)
        FreeLibrary(module_);
}
