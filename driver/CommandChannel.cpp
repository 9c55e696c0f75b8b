// The host's side of the command channel: queuing and waiting.
#include "CommandChannel.h"

#include "HostWait.h"
#include "Session.h"

// The caller holds a reference on the session, and the session its worker's
// handle: the thread id cannot have been handed to another thread meanwhile.
int QueueCommand(DriverSession& session, int command, const void* data, int32_t length,
                 TicketRef ticket, CommandQueue::Repeats repeats) {
    bool wake = false;
    try {
        if (!session.commands.Push(QueuedCommand(command, data, length, std::move(ticket)), &wake,
                                   repeats))
            return 0;
    } catch (...) {
        return 0; // no memory for the copy of the data
    }
    if (wake) // if it cannot be posted, the worker's next tick finds the command
        PostThreadMessageA(session.threadId, WM_WORKER_FIRST + command, 0, 0);
    return TRUE;
}

int QueueCommandOnce(DriverSession& session, int command) {
    return QueueCommand(session, command, nullptr, 0, TicketRef(),
                        CommandQueue::Repeats::kOncePerKind);
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

int PostCommand(CBrailleSampleDriver* driver, int command, const void* data, int32_t length) {
    const SessionRef session = CurrentSession(driver);
    return session ? QueueCommand(*session, command, data, length) : 0;
}
