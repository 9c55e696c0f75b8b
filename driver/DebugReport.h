// What the driver survived, told to a debugger (or DebugView) the Windows way,
// one line each, beginning "QornDriver: ". The driver keeps no log of its own.
#pragma once

#include <windows.h>

void ReportToDebugger(const wchar_t* format, ...);

// A fault raised inside the device library and contained by the driver
// (ordinal 0: in a message to the library's own window or timer).
void ReportContainedFault(int ordinal, DWORD exceptionCode);
