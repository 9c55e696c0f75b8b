// The host's side of the command channel: queuing and waiting.
#include "CommandChannel.h"

#include "HostWait.h"
#include "Session.h"

// The caller holds a reference on the session, and the session its worker's
// handle: the thread id cannot have been handed to another thread meanwhile.
int QueueCommand(DriverSession& session, int command, const void* data, int32_t length,
                 TicketRef ticket) {
    bool wake = false;
    try {
        if (!session.commands.Push(QueuedCommand(command, data, length, std::move(ticket)), &wake))
            return 0;
    } catch (...) {
        return 0; // no memory for the copy of the data
    }
    if (wake && !PostThreadMessageA(session.threadId, WM_WORKER_FIRST + command, 0, 0))
        session.commands.WakeFailed();
    return TRUE;
}

// A ticket the worker has already handled costs no wait at all.
bool WaitForTicket(const TicketRef& ticket, DWORD limitMs) {
    if (!ticket->Handled())
        WaitServingSentMessages(ticket->event(), Deadline(limitMs));
    return ticket->Handled();
}

int QueueCommandWithin(DriverSession& session, int command, const void* data, int32_t length,
                       DWORD limitMs, bool* acknowledged, CommandAnswer* answer) {
    if (acknowledged != nullptr)
        *acknowledged = false;
    const TicketRef ticket = CommandTicket::Create();
    if (!ticket || !QueueCommand(session, command, data, length, ticket))
        return 0;
    const bool handled = WaitForTicket(ticket, limitMs);
    if (acknowledged != nullptr)
        *acknowledged = handled;
    if (handled && answer != nullptr)
        *answer = ticket->answer();
    return TRUE;
}

int PostCommand(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                bool wait) {
    const SessionRef session = CurrentSession(driver);
    if (!session)
        return 0;
    return wait ? QueueCommandWithin(*session, command, data, length, qorn::kHostWaitBudgetMs,
                                     nullptr)
                : QueueCommand(*session, command, data, length);
}
