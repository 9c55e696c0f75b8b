// The installer's program-wide state, filled in the order of its main flow.
#pragma once

#include <string>

#include "DiscoveryResult.h"

struct InstallerState {
    std::wstring targetFolderArg; // first argument, or empty
    std::wstring drivePrefixArg;  // second argument, or empty
    bool discoveryEnded = false;  // the search ended within the installer's wait
    DiscoveryResult discovery;
    std::wstring driverUtilityPath; // the registration tool found, or empty
};

extern InstallerState g_installer;

// Both arguments are taken only together; with fewer both stay empty and
// anything beyond the second is ignored. argv[0] is the program.
void StoreArguments(int argc, const wchar_t* const* argv, InstallerState& state);
