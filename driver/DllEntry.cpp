// Entry notification of the driver library: remembers the module handle.
#include <windows.h>

#include "SampleDriver.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH)
        g_moduleHandle = instance;
    return TRUE;
}
