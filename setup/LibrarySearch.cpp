#include "LibrarySearch.h"

#include <windows.h>

bool LoadLibrariesFromSystem32Only() {
    return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}
