// A library that does nothing, built and linked with the driver's runtime:
// what loading and freeing any such library costs a process, against which
// the driver's own cost per load is measured. Its one export pulls in the
// runtime's C++ exceptions and strings, as the driver's code does.
#include <windows.h>

#include <stdexcept>
#include <string>

extern "C" __declspec(dllexport) int BlankLibraryThrows(const char* text) {
    try {
        throw std::runtime_error(std::string(text));
    } catch (const std::exception& caught) {
        return static_cast<int>(std::string(caught.what()).size());
    }
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
