// Entry notification of the driver library: remembers the module handle and
// whether the process is ending.
#include <windows.h>

#include "SampleDriver.h"

// Frees what the static C++ runtime keeps for the life of the library (its
// reserve for exceptions thrown when memory runs out, some 70 KiB taken from
// the process's heap at load); a library freed and loaded again would
// otherwise leave it behind each time.
namespace __gnu_cxx {
void __freeres() noexcept;
}

// The runtime calls this before it destroys the static objects, so the
// unload step already knows whether the process is ending: a reserved pointer
// at DLL_PROCESS_DETACH means it is, null that the library is being freed.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH)
        g_moduleHandle = instance;
    else if (reason == DLL_PROCESS_DETACH && reserved != nullptr)
        g_processEnding = true;
    else if (reason == DLL_PROCESS_DETACH)
        __gnu_cxx::__freeres();
    return TRUE;
}
