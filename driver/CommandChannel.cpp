// The host's side of the command channel: posting and waiting.
#include "CommandChannel.h"

#include <cstdlib>
#include <cstring>

#include "Clock.h"
#include "SampleDriver.h"

namespace {

uint32_t NextTicket(CBrailleSampleDriver* driver) {
    uint32_t ticket = ++driver->m_lastTicket;
    while (ticket == 0) // 0 means "nobody waits"
        ticket = ++driver->m_lastTicket;
    return ticket;
}

bool IsAcknowledged(const CBrailleSampleDriver* driver, uint32_t ticket) {
    return driver->m_ackedTickets[ticket % qorn::kAckRingSize] == ticket;
}

// Buffer of length + 1 bytes, the last one zero; null when there is nothing to copy.
char* CopyCommandData(const void* data, int32_t length, bool* failed) {
    *failed = false;
    if (data == nullptr || length <= 0)
        return nullptr;
    char* buffer = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
    if (buffer == nullptr) {
        *failed = true;
        return nullptr;
    }
    memcpy(buffer, data, static_cast<size_t>(length));
    buffer[length] = '\0';
    return buffer;
}

// Dispatches everything queued for this thread. A WM_QUIT met here belongs to
// the host's own loop, so it is handed back to it once the wait is over.
void DispatchPendingMessages(bool* sawQuit, WPARAM* quitCode) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            *sawQuit = true;
            *quitCode = msg.wParam;
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Waits at most limitMs for the ticket's acknowledgement, serving messages sent
// to this thread. Ends early if the worker itself has ended. True when the
// worker acknowledged the command.
bool WaitForAcknowledgement(CBrailleSampleDriver* driver, uint32_t ticket, DWORD limitMs) {
    HANDLE handles[2] = {driver->m_hAckEvent, driver->m_hWorkerThread};
    const Deadline deadline(limitMs);
    bool sawQuit = false;
    WPARAM quitCode = 0;
    bool acknowledged = false;
    for (;;) {
        if ((acknowledged = IsAcknowledged(driver, ticket)))
            break;
        // The event is shared with ticks and other commands: re-arm it, then
        // look again so an acknowledgement between the two is not missed.
        ResetEvent(handles[0]);
        if ((acknowledged = IsAcknowledged(driver, ticket)))
            break;
        const DWORD remaining = deadline.Remaining();
        if (remaining == 0)
            break;
        const DWORD woke = MsgWaitForMultipleObjects(2, handles, FALSE, remaining, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 + 1 || woke == WAIT_FAILED) {
            acknowledged = IsAcknowledged(driver, ticket);
            break;
        }
        if (woke == WAIT_OBJECT_0 + 2)
            DispatchPendingMessages(&sawQuit, &quitCode);
    }
    if (sawQuit)
        PostQuitMessage(static_cast<int>(quitCode));
    return acknowledged;
}

} // namespace

void AcknowledgeTicket(CBrailleSampleDriver* driver, uint32_t ticket) {
    if (ticket != 0)
        driver->m_ackedTickets[ticket % qorn::kAckRingSize] = ticket;
}

namespace {
// Copies the data and queues the command. The copy belongs to the worker once
// queued; a post that fails frees it.
BOOL QueueCommand(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                  uint32_t ticket) {
    bool allocationFailed = false;
    char* buffer = CopyCommandData(data, length, &allocationFailed);
    if (allocationFailed)
        return FALSE;
    const BOOL posted =
        PostThreadMessageA(driver->m_workerThreadId, WM_WORKER_FIRST + command,
                           reinterpret_cast<WPARAM>(buffer), MakeCommandLParam(length, ticket));
    if (!posted)
        free(buffer);
    return posted;
}
} // namespace

int PostCommandWithin(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                      DWORD limitMs, bool* acknowledged) {
    if (acknowledged != nullptr)
        *acknowledged = false;
    if (driver->m_hWorkerThread == nullptr)
        return 0;
    const uint32_t ticket = NextTicket(driver);
    ResetEvent(driver->m_hAckEvent);
    const BOOL posted = QueueCommand(driver, command, data, length, ticket);
    const bool handled = posted && WaitForAcknowledgement(driver, ticket, limitMs);
    if (acknowledged != nullptr)
        *acknowledged = handled;
    return posted;
}

int PostCommand(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                bool wait) {
    if (wait)
        return PostCommandWithin(driver, command, data, length, qorn::kHostWaitBudgetMs, nullptr);
    if (driver->m_hWorkerThread == nullptr)
        return 0;
    return QueueCommand(driver, command, data, length, 0);
}
