// Every call the driver makes into the device library, all on workers. The
// library is another maker's code inside the screen reader's process:
// anything it raises (an access violation, a breakpoint, another compiler's
// C++ exception, a C++ exception of our own runtime) is contained here, taken
// as that call failing, and reported to the debugger.
//
// One call at a time, process-wide: a worker the host gave up on may still be
// inside the library when the next session's worker starts, and the library
// need not allow two threads in it. Every call below goes through one door:
// the turn (only workers wait for it), then, with the turn held, a second
// look that the session was not abandoned meanwhile; a call refused there
// answers as a failed one. A worker whose session was abandoned is let in for
// one thing only: closing a link it opened itself, as it ends.
#pragma once

#include <cstdint>

#include <windows.h>

struct DriverSession;

// Ordinal 15: > 0 linked; 0 failed (also when the library faults); < 0 failed,
// worth a retry with the text before the first ':'. A link that another
// session's worker left open is closed first.
int32_t DeviceOpenLink(DriverSession& session, const wchar_t* portName);
// Ordinal 14: key events of the library go to this window as WM_BRAILLE_KEY.
void DeviceRegisterKeyWindow(DriverSession& session, HWND window);
// Ordinal 10: < 0 not ready (also on a fault); else both bytes are filled.
int32_t DeviceReadSize(DriverSession& session, uint8_t* first, uint8_t* second);
// Ordinal 3: < 1 failed (also on a fault).
int32_t DeviceWriteCells(DriverSession& session, uint8_t count, const uint8_t* cells);
// Ordinal 9: > 0 when all three bytes are filled; 0 on a fault.
int32_t DeviceReadData(DriverSession& session, uint8_t* first, uint8_t* second, uint8_t* third);
// Ordinal 16.
void DeviceService(DriverSession& session);
// A message of the library's own window or timer on the worker's thread;
// any other message is left alone.
void DeviceDispatch(DriverSession& session, const MSG& message);
// Ordinal 2.
void DeviceCloseLink(DriverSession& session);
// Ordinal 2, only if the session's worker opened the library's link and
// nobody has closed it since; also for a session that was abandoned.
void DeviceCloseOwnLink(const DriverSession& session);
