#include "InstallerState.h"

InstallerState g_installer;

void StoreArguments(int argc, const wchar_t* const* argv, InstallerState& state) {
    state.targetFolderArg.clear();
    state.drivePrefixArg.clear();
    if (argc < 3 || argv == nullptr || argv[1] == nullptr || argv[2] == nullptr)
        return;
    state.targetFolderArg = argv[1];
    state.drivePrefixArg = argv[2];
}
