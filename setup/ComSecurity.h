// COM in the installer's process. Security is set once per process, by its
// program, before the first COM call that could marshal: the installer's main
// thread sets it and keeps the multithreaded apartment while the search runs
// (the shared search code never sets it: inside the screen reader that is the
// screen reader's to do).
#pragma once

#include <windows.h>

// CoInitializeSecurity for the search's WMI calls: default authentication,
// impersonation, no descriptor or capabilities. Call in the apartment.
HRESULT SetProcessComSecurity();

// Security was set now, or by someone earlier in this process (RPC_E_TOO_LATE):
// either way the search's calls run under settled security.
bool SecurityLetsSearchRun(HRESULT securityResult);

// The search is started only from the multithreaded apartment with security settled.
bool ComReadyForSearch(bool apartmentJoined, HRESULT securityResult);
