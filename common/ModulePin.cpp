#include "ModulePin.h"

HMODULE PinOwnModule() {
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if (!GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(&PinOwnModule), &module))
        return nullptr;
    return module;
}

DWORD ExitThreadReleasingModule(HMODULE pinned, DWORD exitCode) {
    if (pinned != nullptr)
        FreeLibraryAndExitThread(pinned, exitCode);
    return exitCode;
}
