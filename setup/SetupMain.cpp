// QornSetup: finds the display's serial port and registers the driver for it
// with the screen reader's tool. Silent, unattended, always exits with 0.
#include "DiscoveryThread.h"
#include "DriverUtilityLocator.h"
#include "InstallerState.h"
#include "Parameters.h"
#include "RegistrationCommand.h"

namespace {

// A search that has not ended in time goes on until the process ends; its
// result lives in a record of its own and is never looked at.
void DiscoverPort(InstallerState& state) {
    state.discovery = DiscoveryResult{};
    state.discoveryEnded = false;
    DiscoveryThread thread;
    if (StartDiscovery(thread))
        state.discoveryEnded =
            FinishDiscovery(thread, qorn::kSetupDiscoveryTimeoutMs, state.discovery);
}

void RunInstaller(int argc, const wchar_t* const* argv) {
    StoreArguments(argc, argv, g_installer);
    DiscoverPort(g_installer);
    LocateDriverUtility();
    if (g_installer.driverUtilityPath.empty())
        return;
    StartDriverUtility(g_installer.driverUtilityPath,
                       RegistrationCommandLine(g_installer.discoveryEnded, g_installer.discovery));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        RunInstaller(argc, argv);
    } catch (...) {
        // No memory for a path or the command: nothing is registered.
    }
    return 0;
}
