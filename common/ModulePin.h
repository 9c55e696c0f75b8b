// Threads that may outlive their starter's wait keep the module that holds
// their code loaded, and let go of it only as they exit.
#pragma once

#include <windows.h>

// Takes a reference on the module that contains this code; null if none was taken.
HMODULE PinOwnModule();

// Ends the calling thread with the exit code, releasing the reference taken by
// PinOwnModule (the module may unload as the thread ends). Returns the exit code
// when there is nothing to release, so a thread function can simply return it.
DWORD ExitThreadReleasingModule(HMODULE pinned, DWORD exitCode);

// The module that contains this code, without taking a reference.
HMODULE OwnModule();
