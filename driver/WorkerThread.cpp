// The worker's message loop and the handlers of its commands.
#include "WorkerThread.h"

#include <process.h>

#include <algorithm>

#include "BrailleOutput.h"
#include "CommandChannel.h"
#include "DebugReport.h"
#include "DeviceCalls.h"
#include "HostWait.h"
#include "LinkSupervision.h"
#include "ModulePin.h"
#include "SampleDriver.h"

namespace {

// Each command is a device call of its own, or an event of the link's
// decision, which it answers.
LinkEvent HandleCommand(DriverSession& session, const QueuedCommand& command) {
    switch (command.command()) {
    case kCmdOpen:
        session.cellCount = qorn::kDefaultCellCount;
        session.statusCellCount = 0;
        return TakePortName(session, command.data(), command.length())
                   ? LinkEvent::kOpenOnPort
                   : LinkEvent::kOpenWithoutPort;
    case kCmdClose:
        return LinkEvent::kClose;
    case kCmdSuspend:
        return command.length() != 0 ? LinkEvent::kSuspend : LinkEvent::kResume;
    case kCmdRelinkRequest:
        return LinkEvent::kRelinkRequest;
    case kCmdPower:
        return session.latestPower;
    case kCmdDevicesChanged:
        return LinkEvent::kDevicesChanged;
    case kCmdWrite: // a write or a clear: the latest cells either way
        WriteLatestCells(session);
        break;
    case kCmdRegisterKeyWindow:
        DeviceRegisterKeyWindow(session, session.keyWindow);
        break;
    case kCmdReadDeviceData: // ordinal 9, only while the link is up; the answer goes back
        if (CommandAnswer* answer = command.answer(); answer != nullptr && LinkIsUp(session.link))
            answer->result =
                DeviceReadData(session, answer->bytes, answer->bytes + 1, answer->bytes + 2);
        break;
    default: // quit, no-op and status writes: releasing the command is all
        break;
    }
    return LinkEvent::kTick;
}

// The library is serviced on every tick, and after any message or command
// as often, however many of them keep the worker busy (a stream of posted
// messages holds back the system's WM_TIMER).
void Service(DriverSession& session) {
    session.lastServiceMs = MonotonicMs();
    DeviceService(session);
}

void ServiceIfDue(DriverSession& session) {
    if (MonotonicMs() - session.lastServiceMs >= qorn::kServiceTimerMs)
        Service(session);
}

// A resume's link-up waits a while for the look at the records it began
// (LinkPolicy.h): the resume's ticket, and with it SetSuspended(0), is
// released once the link is up, as it always was. The worker waits for the
// search itself, within that while.
void AwaitHeldLinkUp(DriverSession& session) {
    for (uint64_t until; (until = session.link.linkUpHeldUntilMs) != 0 &&
                         HostWantsLink(session.link) && !session.abandoned;) {
        const uint64_t now = MonotonicMs();
        const DWORD waitMs = now < until ? DWORD(until - now) : 0;
        if (session.search.handle != nullptr)
            WaitForSingleObject(session.search.handle, waitMs);
        else // a look held back by its spacing
            Sleep(std::min<DWORD>(waitMs, qorn::kServiceTimerMs));
        TakeSearchAnswerOnceDone(session);
        SuperviseLink(session, LinkEvent::kTick);
    }
}

// Runs one command and the link's decision that follows it (any exception,
// out of memory say, ends only that command), and releases its waiter: the
// open, close and suspend commands once what they brought about is done,
// any other at once. False once the quit command has run.
bool RunCommand(DriverSession& session, QueuedCommand& command) {
    LinkEvent event = LinkEvent::kTick;
    try {
        event = HandleCommand(session, command);
    } catch (...) {
    }
    const int number = command.command();
    if (number != kCmdOpen && number != kCmdClose && number != kCmdSuspend)
        command.Finish();
    SuperviseLink(session, event);
    AwaitHeldLinkUp(session);
    command.Finish(); // the first Finish of a command is the one that counts
    return number != kCmdQuit;
}

// One look at the worker's own queue: every command in it runs, in order.
bool RunQueuedCommands(DriverSession& session) {
    while (std::optional<QueuedCommand> command = session.commands.Pop()) {
        if (!RunCommand(session, *command))
            return false;
        ServiceIfDue(session);
    }
    return true;
}

// Every message is a wake-up: after it, one look at the queue, so no stream
// of messages holds the commands back. Only the quit command, or the host
// giving up on the worker, ends the loop; a WM_QUIT or any other thread
// message posted by anyone is nothing. The tick services the library; a
// message of a window on this thread, or a timer message naming a procedure,
// may be the library's, and goes to the door, which lets in only what is.
void ServeMessage(DriverSession& session, UINT_PTR timer, const MSG& msg) {
    if (msg.hwnd == nullptr && msg.message == WM_TIMER && timer != 0 && msg.wParam == timer)
        Service(session);
    else
        DeviceDispatch(session, msg);
    ServiceIfDue(session);
}

void RunWorker(DriverSession& session, UINT_PTR timer) {
    uint64_t dueMs = kNeverDue;
    for (;;) {
        // The next message; when the next decision is due before the next
        // tick, at most until then. With a tick, GetMessage returns at the
        // tick at the latest; a worker with no timer waits at most a tick's
        // time too. A search under way is looked at each turn.
        MSG msg;
        const uint64_t now = MonotonicMs();
        const uint64_t untilDue = dueMs > now ? dueMs - now : 0;
        if (timer != 0 && untilDue >= qorn::kServiceTimerMs) {
            if (GetMessageA(&msg, nullptr, 0, 0) != -1)
                ServeMessage(session, timer, msg);
        } else if (MsgWaitForMultipleObjectsEx(
                       0, nullptr, DWORD(std::min<uint64_t>(untilDue, qorn::kServiceTimerMs)),
                       QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0 &&
                   PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ServeMessage(session, timer, msg);
        }
        TakeSearchAnswerOnceDone(session);
        if (!RunQueuedCommands(session) || session.abandoned)
            return;
        dueMs = SuperviseLink(session, LinkEvent::kTick);
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
        RunWorker(session, timer);
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
    session.closing = true; // from here on nothing brings the link up
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
    PostThreadMessageA(session.threadId, WM_WORKER_FIRST + kCmdNop, 0, 0); // wakes it, if it waits
    ReportToDebugger(L"%ls gave up; the device worker is abandoned and ends once its call "
                     L"into the device library returns",
                     gaveUp);
}
