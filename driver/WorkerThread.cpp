// The worker's message loop and the handlers of its commands.
#include "WorkerThread.h"

#include <process.h>

#include "BrailleOutput.h"
#include "CommandChannel.h"
#include "DebugReport.h"
#include "DeviceCalls.h"
#include "HostWait.h"
#include "LinkSupervision.h"
#include "ModulePin.h"
#include "PortSearch.h"
#include "PowerEvents.h"
#include "SampleDriver.h"

namespace {

// A nonzero flag closes a link that is up; 0 re-links one that is down or
// stale, while the host wants the link: a re-link request of a refused write,
// queued behind the close command or a suspend, opens nothing.
void HandleSuspend(DriverSession& session, int32_t flag) {
    const CBrailleSampleDriver* driver = session.driver;
    if (!driver->m_alive)
        return;
    if (flag != 0 && session.linkUp)
        CloseLink(session);
    else if (flag == 0 && (!session.linkUp || session.linkStale) && session.linkWanted &&
             !driver->m_suspended)
        Relink(session);
}

void HandleOpen(DriverSession& session, const QueuedCommand& command) {
    session.cellCount = qorn::kDefaultCellCount;
    session.statusCellCount = 0;
    session.linkWanted = true;
    PublishLinkState(session);
    if (session.driver->m_alive)
        OpenLink(session, command.data(), command.length());
}

void HandleCommand(DriverSession& session, const QueuedCommand& command) {
    switch (command.command()) {
    case kCmdOpen:
        HandleOpen(session, command);
        break;
    case kCmdClose:
        session.linkWanted = false;
        if (session.driver->m_alive)
            CloseLink(session);
        break;
    case kCmdSuspend:
        HandleSuspend(session, command.length());
        break;
    case kCmdWrite:
    case kCmdClear: // the clear's blank cells are the latest cells
        WriteLatestCells(session, LatestWrite::kWriteCommand);
        break;
    case kCmdService:
        DeviceService(session);
        break;
    case kCmdRegisterKeyWindow:
        DeviceRegisterKeyWindow(session, session.keyWindow);
        break;
    case kCmdReadDeviceData: // ordinal 9, only while the link is up; the answer goes back
        if (CommandAnswer* answer = command.answer(); answer != nullptr && session.linkUp)
            answer->result =
                DeviceReadData(session, answer->bytes, answer->bytes + 1, answer->bytes + 2);
        break;
    case kCmdSleep:
        CloseLinkForSleep(session);
        break;
    case kCmdWake:
        ScheduleWakeRelink(session);
        break;
    default: // quit, no-op and status writes: the common tail is all
        break;
    }
}

// Runs one command and the common tail: its waiter released, the event set.
// False once the quit command has run.
bool RunCommand(DriverSession& session, QueuedCommand& command) {
    try {
        HandleCommand(session, command);
    } catch (...) {
        // Out of memory, say: the worker goes on with the next command.
    }
    command.Finish();
    SetEvent(session.ackEvent);
    return command.command() != kCmdQuit;
}

// One look at the worker's own queue: every command in it runs, in order.
bool RunQueuedCommands(DriverSession& session) {
    while (std::optional<QueuedCommand> command = session.commands.Pop()) {
        if (!RunCommand(session, *command))
            return false;
    }
    return true;
}

void ServiceTick(DriverSession& session) {
    try {
        DeviceService(session);
        RelinkIfWakeDue(session);
        RetryLinkWhileHostSilent(session);
        LookForTheDisplay(session);
    } catch (...) {
    }
    SetEvent(session.ackEvent);
}

// Every message is a wake-up: after it, one look at the queue. A WM_QUIT
// posted by anyone (0) or an error (-1) is nothing: only the quit command, or
// the host giving up on the worker, ends the loop. Any other message (a window
// or timer of the device library's, or anyone's thread message) is dispatched.
void RunMessageLoop(DriverSession& session, UINT_PTR timer) {
    MSG msg;
    for (;;) {
        if (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.hwnd == nullptr && msg.message == WM_TIMER && timer != 0 && msg.wParam == timer)
                ServiceTick(session);
            else
                DispatchMessageA(&msg);
        }
        if (!RunQueuedCommands(session) || session.abandoned)
            return;
    }
}

} // namespace

unsigned __stdcall WorkerMain(void* argument) {
    auto* reference = static_cast<SessionRef*>(argument);
    DriverSession& session = **reference;
    const HMODULE pinned = session.pinnedModule;
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // creates the queue
    if (!session.abandoned) {
        SetEvent(session.ackEvent);
        const UINT_PTR timer = SetTimer(nullptr, 0, qorn::kServiceTimerMs, nullptr);
        RunMessageLoop(session, timer);
        if (timer != 0)
            KillTimer(nullptr, timer);
    }
    // A link this worker opened after the host gave up on it is closed here,
    // unless the next session's worker closed it first.
    DeviceCloseOwnLink(session);
    LetGoOfSearch(session);
    // Commands queued behind the quit, or left to an abandoned worker, never
    // run: their waiters are released now.
    session.commands.Close();
    delete reference;
    return ExitThreadReleasingModule(pinned, 0);
}

SessionRef StartSession(CBrailleSampleDriver* driver) {
    SessionRef session;
    SessionRef* workerReference = nullptr;
    try {
        session = std::make_shared<DriverSession>(driver);
        workerReference = new SessionRef(session);
    } catch (...) {
        return nullptr;
    }
    session->ackEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    session->pinnedModule = PinOwnModule();
    unsigned id = 0;
    const uintptr_t thread = session->ackEvent == nullptr
                                 ? 0
                                 : _beginthreadex(nullptr, 0, WorkerMain, workerReference, 0, &id);
    if (thread == 0) {
        if (session->pinnedModule != nullptr)
            FreeLibrary(session->pinnedModule);
        delete workerReference;
        return nullptr;
    }
    session->thread = reinterpret_cast<HANDLE>(thread);
    session->threadId = id;
    SetThreadPriority(session->thread, THREAD_PRIORITY_ABOVE_NORMAL);
    MakeCurrent(session);
    return session;
}

bool AwaitWorkerReady(DriverSession& session, DWORD timeoutMs) {
    if (WaitServingSentMessages(session.ackEvent, Deadline(timeoutMs)))
        return true;
    AbandonWorker(session, L"the wait for the device worker to be ready");
    return false;
}

// The stop sequence, all of it within the deadline, after which the session is
// the driver's no more. A worker that does not answer in time is stuck in the
// device library: it is abandoned.
void StopSession(DriverSession& session, const Deadline& deadline) {
    bool closed = false, quit = false;
    QueueCommandWithin(session, kCmdClose, nullptr, 0, deadline.Remaining(), &closed);
    WaitServingSentMessages(nullptr, Deadline(qorn::kStopPauseMs));
    if (closed)
        QueueCommandWithin(session, kCmdQuit, nullptr, 0, deadline.Remaining(), &quit);
    if (!quit || !WaitServingSentMessages(session.thread, deadline))
        AbandonWorker(session, L"Close's wait for the device worker");
    session.keyWindow = nullptr;
    Detach(session);
}

void AbandonWorker(DriverSession& session, const wchar_t* gaveUp) {
    if (session.abandoned.exchange(true))
        return;
    session.commands.Close();
    PostThreadMessageA(session.threadId, WM_WORKER_NOP, 0, 0); // wakes it, if it waits
    ReportToDebugger(L"%ls gave up; the device worker is abandoned and ends once its call "
                     L"into the device library returns",
                     gaveUp);
}
