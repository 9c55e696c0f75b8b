// Commands to the device worker: thread messages with a heap buffer in wParam
// and a 32-bit length or flag in the low half of lParam. The high half carries
// the ticket of a command whose poster waits for it (0 for none).
#pragma once

#include <cstdint>

#include <windows.h>

class CBrailleSampleDriver;

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

constexpr bool IsWorkerCommand(UINT message) {
    return message >= WM_WORKER_QUIT && message <= WM_WORKER_SERVICE;
}

constexpr LPARAM MakeCommandLParam(int32_t length, uint32_t ticket) {
    return static_cast<LPARAM>((static_cast<uint64_t>(ticket) << 32) |
                               static_cast<uint32_t>(length));
}
constexpr int32_t CommandLength(LPARAM lParam) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(lParam)));
}
constexpr uint32_t CommandTicket(LPARAM lParam) {
    return static_cast<uint32_t>(static_cast<uint64_t>(lParam) >> 32);
}

// Copies data (length + 1 bytes, zero-terminated) and queues command n to the
// worker. Returns the post's result, or 0 when no worker runs. With wait, as
// PostCommandWithin with the host's usual bound.
int PostCommand(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                bool wait);

// Posts as PostCommand and waits at most limitMs until the worker has handled
// this very command, serving messages sent to this thread meanwhile; returns at
// once if the post failed. *acknowledged tells whether the worker handled it
// in time (acknowledged may be null). Returns the post's result.
int PostCommandWithin(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                      DWORD limitMs, bool* acknowledged);

// Records that the worker has handled the command with this ticket.
void AcknowledgeTicket(CBrailleSampleDriver* driver, uint32_t ticket);
