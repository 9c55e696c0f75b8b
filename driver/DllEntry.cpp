// Entry notification of the driver library: remembers the module handle and
// whether the process is ending.
#include <windows.h>

#include "SampleDriver.h"

// The runtime calls this before it destroys the static objects, so the
// unload step already knows whether the process is ending: a reserved pointer
// at DLL_PROCESS_DETACH means it is, null that the library is being freed.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH)
        g_moduleHandle = instance;
    else if (reason == DLL_PROCESS_DETACH && reserved != nullptr)
        g_processEnding = true;
    return TRUE;
}
