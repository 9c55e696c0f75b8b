// The host's side of the command channel: queuing and waiting.
#include "CommandChannel.h"

#include "Clock.h"
#include "SampleDriver.h"
#include "ScopedLock.h"
#include "WorkerOwnership.h"

namespace {

// Puts the command into the running worker's queue and wakes the worker. The
// channel lock keeps the worker's record and thread id in place meanwhile: the
// driver's handle on the thread keeps the id from being handed to another.
bool QueueForWorker(CBrailleSampleDriver* driver, QueuedCommand&& command) {
    const int number = command.command();
    ScopedLock locked(&driver->m_channelLock);
    WorkerLaunch* launch = driver->m_pWorkerLaunch;
    if (launch == nullptr)
        return false;
    bool wake = false;
    if (!launch->commands.Push(std::move(command), &wake))
        return false;
    if (wake && !PostThreadMessageA(driver->m_workerThreadId, WM_WORKER_FIRST + number, 0, 0))
        launch->commands.WakeFailed();
    return true;
}

bool Queue(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
           TicketRef ticket) {
    try {
        return QueueForWorker(driver, QueuedCommand(command, data, length, std::move(ticket)));
    } catch (...) {
        return false; // no memory for the copy of the data
    }
}

// Runs the host's handlers of messages that other threads send to this one
// (the library's key events among them); posted messages wait for the host's
// own loop.
void ServeSentMessages() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

} // namespace

TicketRef PostCommandWithTicket(CBrailleSampleDriver* driver, int command, const void* data,
                                int32_t length) {
    TicketRef ticket(CommandTicket::Create());
    if (!ticket || !Queue(driver, command, data, length, ticket))
        return TicketRef();
    return ticket;
}

bool WaitForTicket(const TicketRef& ticket, DWORD limitMs) {
    const Deadline deadline(limitMs);
    const HANDLE event = ticket->event();
    ServeSentMessages(); // any sent before the wait began
    while (!ticket->Finished()) {
        const DWORD remaining = deadline.Remaining();
        if (remaining == 0)
            break;
        const DWORD woke = MsgWaitForMultipleObjects(1, &event, FALSE, remaining, QS_SENDMESSAGE);
        if (woke == WAIT_OBJECT_0 + 1)
            ServeSentMessages();
        else if (woke == WAIT_FAILED)
            break;
    }
    return ticket->Handled();
}

int PostCommandWithin(CBrailleSampleDriver* driver, int command, const void* data, int32_t length,
                      DWORD limitMs, bool* acknowledged, CommandAnswer* answer) {
    if (acknowledged != nullptr)
        *acknowledged = false;
    const TicketRef ticket = PostCommandWithTicket(driver, command, data, length);
    if (!ticket)
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
    if (wait)
        return PostCommandWithin(driver, command, data, length, qorn::kHostWaitBudgetMs, nullptr);
    return Queue(driver, command, data, length, TicketRef()) ? TRUE : 0;
}
