// The host's side of the command channel: queuing and waiting.
#include "CommandChannel.h"

#include "HostWait.h"
#include "SampleDriver.h"
#include "Session.h"

namespace {

// The caller holds a reference on the session, and the session its worker's
// handle: the thread id cannot have been handed to another thread meanwhile.
bool Queue(DriverSession& session, QueuedCommand&& command) {
    const int number = command.command();
    bool wake = false;
    if (!session.commands.Push(std::move(command), &wake))
        return false;
    if (wake && !PostThreadMessageA(session.threadId, WM_WORKER_FIRST + number, 0, 0))
        session.commands.WakeFailed();
    return true;
}

} // namespace

int QueueCommand(DriverSession& session, int command, const void* data, int32_t length,
                 TicketRef ticket) {
    try {
        return Queue(session, QueuedCommand(command, data, length, std::move(ticket))) ? TRUE : 0;
    } catch (...) {
        return 0; // no memory for the copy of the data
    }
}

bool WaitForTicket(const TicketRef& ticket, DWORD limitMs) {
    WaitServingSentMessages(ticket->event(), Deadline(limitMs));
    return ticket->Handled();
}

int QueueCommandWithin(DriverSession& session, int command, const void* data, int32_t length,
                       DWORD limitMs, bool* acknowledged, CommandAnswer* answer) {
    if (acknowledged != nullptr)
        *acknowledged = false;
    TicketRef ticket(CommandTicket::Create());
    if (!ticket || !QueueCommand(session, command, data, length, ticket))
        return 0;
    const bool handled = WaitForTicket(ticket, limitMs);
    if (acknowledged != nullptr)
        *acknowledged = handled;
    if (handled && answer != nullptr)
        *answer = ticket->answer();
    return TRUE;
}

TicketRef PostCommandWithTicket(CBrailleSampleDriver* driver, int command, const void* data,
                                int32_t length) {
    const SessionRef session = CurrentSession(driver);
    TicketRef ticket(CommandTicket::Create());
    if (!session || !ticket || !QueueCommand(*session, command, data, length, ticket))
        return TicketRef();
    return ticket;
}

int PostCommandWithin(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                      DWORD limitMs, bool* acknowledged, CommandAnswer* answer) {
    if (acknowledged != nullptr)
        *acknowledged = false;
    const SessionRef session = CurrentSession(driver);
    if (!session)
        return 0;
    return QueueCommandWithin(*session, command, data, length, limitMs, acknowledged, answer);
}

int PostCommand(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                bool wait) {
    if (wait)
        return PostCommandWithin(driver, command, data, length, qorn::kHostWaitBudgetMs, nullptr);
    const SessionRef session = CurrentSession(driver);
    return session ? QueueCommand(*session, command, data, length) : 0;
}
