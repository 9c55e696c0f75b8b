// QornSetup: finds the display's serial port and registers the driver for it
// with the screen reader's tool. Silent, unattended, always exits with 0.
#include "ComHandles.h"
#include "ComSecurity.h"
#include "DiscoveryThread.h"
#include "DriverUtilityLocator.h"
#include "InstallerState.h"
#include "LibrarySearch.h"
#include "Parameters.h"
#include "RegistrationCommand.h"

namespace {

// A search that has not ended in time goes on until the process ends; its
// result lives in a record of its own and is never looked at.
void DiscoverPort(InstallerState& state) {
    DiscoveryThread thread;
    if (StartDiscovery(thread))
        state.discoveryEnded =
            FinishDiscovery(thread, qorn::kSetupDiscoveryTimeoutMs, state.discovery);
}

void RunInstaller(int argc, const wchar_t* const* argv) {
    StoreArguments(argc, argv, g_installer);
    g_installer.discovery = DiscoveryResult{};
    g_installer.discoveryEnded = false;
    // Kept until the installer ends: a search still running after the wait
    // stays in this apartment, under the security set here.
    const ComApartment apartment;
    const HRESULT security = apartment.joined() ? SetProcessComSecurity() : E_UNEXPECTED;
    // Without settled COM there is no search: the port is registered as AUTO.
    if (ComReadyForSearch(apartment.joined(), security))
        DiscoverPort(g_installer);
    LocateDriverUtility();
    if (g_installer.driverUtilityPath.empty())
        return;
    StartDriverUtility(g_installer.driverUtilityPath,
                       RegistrationCommandLine(g_installer.discoveryEnded, g_installer.discovery));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // First, before anything loads a library by name: a file planted beside the
    // installer or in the working directory is never loaded. It fails only for
    // flags Windows does not know; the installer goes on either way.
    LoadLibrariesFromSystem32Only();
    try {
        RunInstaller(argc, argv);
    } catch (...) {
        // No memory for a path or the command: nothing is registered.
    }
    return 0;
}
