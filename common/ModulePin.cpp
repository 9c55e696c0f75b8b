#include "ModulePin.h"

namespace {
HMODULE ModuleOfThisCode(DWORD flags) {
    HMODULE module = nullptr;
    flags |= GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if (!GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&ModuleOfThisCode), &module))
        return nullptr;
    return module;
}
} // namespace

HMODULE PinOwnModule() {
    return ModuleOfThisCode(0);
}

HMODULE OwnModule() {
    return ModuleOfThisCode(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
}

DWORD ExitThreadReleasingModule(HMODULE pinned, DWORD exitCode) {
    if (pinned != nullptr)
        FreeLibraryAndExitThread(pinned, exitCode);
    return exitCode;
}
