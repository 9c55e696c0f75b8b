// Commands to a session's device worker. A command, its data and its ticket
// go into the worker's own queue (CommandQueue.h); the thread message posted
// to the worker, numbered 1026 + n, is only a wake-up: it carries nothing the
// worker reads, and the worker takes any message as one.
#pragma once

#include <cstdint>

#include <windows.h>

#include "CommandQueue.h"

class CBrailleSampleDriver;
struct DriverSession;

enum WorkerCommand : int {
    kCmdQuit = 0,
    kCmdNop = 1,
    kCmdOpen = 2,
    kCmdClose = 3,
    kCmdSuspend = 4,
    kCmdWrite = 5,
    kCmdWriteStatus = 6,
    kCmdClear = 7,
    kCmdService = 8,
    kCmdRegisterKeyWindow = 9, // the session's key window
    kCmdReadDeviceData = 10,   // answers the three bytes of the device's data
    kCmdSleep = 11,            // the computer goes to sleep: the link closes
    kCmdWake = 12,             // the computer woke: the link is brought up again
};

constexpr UINT WM_WORKER_FIRST = 1026;
constexpr UINT WM_WORKER_QUIT = WM_WORKER_FIRST + kCmdQuit;
constexpr UINT WM_WORKER_NOP = WM_WORKER_FIRST + kCmdNop;
constexpr UINT WM_WORKER_OPEN = WM_WORKER_FIRST + kCmdOpen;
constexpr UINT WM_WORKER_CLOSE = WM_WORKER_FIRST + kCmdClose;
constexpr UINT WM_WORKER_SUSPEND = WM_WORKER_FIRST + kCmdSuspend;
constexpr UINT WM_WORKER_WRITE = WM_WORKER_FIRST + kCmdWrite;
constexpr UINT WM_WORKER_WRITE_STATUS = WM_WORKER_FIRST + kCmdWriteStatus;
constexpr UINT WM_WORKER_CLEAR = WM_WORKER_FIRST + kCmdClear;
constexpr UINT WM_WORKER_SERVICE = WM_WORKER_FIRST + kCmdService;
constexpr UINT WM_WORKER_REGISTER_KEY_WINDOW = WM_WORKER_FIRST + kCmdRegisterKeyWindow;
constexpr UINT WM_WORKER_READ_DEVICE_DATA = WM_WORKER_FIRST + kCmdReadDeviceData;

// Queues command n with a copy of the data (length + 1 bytes, zero-terminated)
// to the session's worker. Returns nonzero when queued: not once the worker
// has ended or been given up on.
int QueueCommand(DriverSession& session, int command, const void* data, int32_t length,
                 TicketRef ticket = TicketRef());
// Queues as QueueCommand and waits at most limitMs until the worker has handled
// this very command (HostWait.h). Returns at once if nothing was queued.
// *acknowledged tells whether the worker handled it in time, *answer (when
// given) what it handed back then. Returns nonzero when queued.
int QueueCommandWithin(DriverSession& session, int command, const void* data, int32_t length,
                       DWORD limitMs, bool* acknowledged, CommandAnswer* answer = nullptr);

// The same for the driver's current session; 0 when there is none. With wait,
// as QueueCommandWithin with the host's usual bound.
int PostCommand(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                bool wait);

// Waits at most limitMs for the ticket's command to finish (HostWait.h).
// True when the worker handled it.
bool WaitForTicket(const TicketRef& ticket, DWORD limitMs);
