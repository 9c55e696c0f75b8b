// Every call the driver makes into the device library, on whichever thread
// makes it. The library is another maker's code inside the screen reader's
// process: anything it raises (an access violation, another compiler's C++
// exception, any error code, a C++ exception of our own runtime) is contained
// here, taken as that call failing, and reported to the debugger.
//
// On the worker each call is also a time when the worker stands outside the
// driver's code; a worker disowned meanwhile unwinds with WorkerDisowned as the
// call returns, before it can touch the driver again.
#pragma once

#include <cstdint>

#include <windows.h>

// Ordinal 15: > 0 linked; 0 failed (also when the library faults); < 0 failed,
// worth a retry with the text before the first ':'.
int32_t DeviceOpenLink(const wchar_t* portName);
// Ordinal 14: key events of the library go to this window as WM_BRAILLE_KEY.
void DeviceRegisterKeyWindow(HWND window);
// Ordinal 10: < 0 not ready (also on a fault); else both bytes are filled.
int32_t DeviceReadSize(uint8_t* first, uint8_t* second);
// Ordinal 3: < 1 failed (also on a fault).
int32_t DeviceWriteCells(uint8_t count, const uint8_t* cells);
// Ordinal 9: > 0 when all three bytes are filled; 0 on a fault.
int32_t DeviceReadData(uint8_t* first, uint8_t* second, uint8_t* third);
// Ordinal 16.
void DeviceService();
// Ordinal 2.
void DeviceCloseLink();
