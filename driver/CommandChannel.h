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

// The wake-up posted for command n is message 1026 + n.
enum WorkerCommand : int {
    kCmdQuit = 0,
    kCmdNop = 1,
    kCmdOpen = 2,
    kCmdClose = 3,
    kCmdSuspend = 4,
    kCmdWrite = 5, // of the host's latest cells, whether written or cleared
    kCmdWriteStatus = 6,
    kCmdRegisterKeyWindow = 9, // the session's key window
    kCmdReadDeviceData = 10,   // answers the three bytes of the device's data
    kCmdPower = 11,            // the computer goes to sleep or woke (DriverSession::latestPower)
    kCmdDevicesChanged = 12,   // the device records may have changed (a device-change broadcast)
    kCmdRelinkRequest = 13,    // the host's output calls keep being refused
};

constexpr UINT WM_WORKER_FIRST = 1026;

// Queues command n with a copy of the data (length + 1 bytes, zero-terminated)
// to the session's worker. Returns nonzero when queued: not once the worker
// has ended or been given up on.
int QueueCommand(DriverSession& session, int command, const void* data, int32_t length,
                 TicketRef ticket = TicketRef(),
                 CommandQueue::Repeats repeats = CommandQueue::Repeats::kQueued);
// A command of a kind that must not pile up (a write, a re-link request, a
// power event), queued only if none of its kind waits. Nonzero when one waits now.
int QueueCommandOnce(DriverSession& session, int command);
// Queues as QueueCommand and waits at most limitMs until the worker has handled
// this very command (HostWait.h). Returns at once if nothing was queued.
// *acknowledged tells whether the worker handled it in time, *answer (when
// given) what it handed back then. Returns nonzero when queued.
int QueueCommandWithin(DriverSession& session, int command, const void* data, int32_t length,
                       DWORD limitMs, bool* acknowledged, CommandAnswer* answer = nullptr);

// QueueCommand for the driver's current session; 0 when there is none.
int PostCommand(CBrailleSampleDriver* driver, int command, const void* data, int32_t length);

// Waits at most limitMs for the ticket's command to finish (HostWait.h).
// True when the worker handled it.
bool WaitForTicket(const TicketRef& ticket, DWORD limitMs);
