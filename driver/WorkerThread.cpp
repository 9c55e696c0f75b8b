// The worker's message loop and the handlers of its commands.
#include "WorkerThread.h"

#include <process.h>

#include <atomic>
#include <cstring>
#include <new>

#include "BrailleOutput.h"
#include "CommandChannel.h"
#include "DebugReport.h"
#include "DeviceCalls.h"
#include "LinkSupervision.h"
#include "ModulePin.h"
#include "OwnHandle.h"
#include "SampleDriver.h"
#include "ScopedLock.h"
#include "WorkerOwnership.h"

namespace {

void HandleSuspend(CBrailleSampleDriver* driver, int32_t flag) {
    if (!driver->m_alive)
        return;
    if (driver->m_linkUp) {
        if (flag != 0)
            CloseLink(driver);
        else if (driver->m_linkStale)
            Relink(driver);
    } else if (flag == 0) {
        Relink(driver);
    }
}

// Ordinal 9, only while the link is up; the answer goes back with the command.
void ReadDeviceData(CBrailleSampleDriver* driver, CommandAnswer* answer) {
    if (!driver->m_linkUp || answer == nullptr)
        return;
    answer->result = DeviceReadData(&answer->bytes[0], &answer->bytes[1], &answer->bytes[2]);
}

void RegisterKeyWindow(const QueuedCommand& command) {
    HWND window = nullptr;
    if (command.data() != nullptr && command.length() == static_cast<int32_t>(sizeof window))
        memcpy(&window, command.data(), sizeof window);
    DeviceRegisterKeyWindow(window);
}

void HandleCommand(CBrailleSampleDriver* driver, const QueuedCommand& command) {
    switch (command.command()) {
    case kCmdOpen:
        driver->m_cellCount = qorn::kDefaultCellCount;
        driver->m_statusCellCount = 0;
        driver->m_linkWanted = true;
        if (driver->m_alive)
            OpenLink(driver, command.data(), command.data() != nullptr ? command.length() : 0);
        break;
    case kCmdClose:
        driver->m_linkWanted = false;
        if (driver->m_alive)
            CloseLink(driver);
        break;
    case kCmdSuspend:
        HandleSuspend(driver, command.length());
        break;
    case kCmdWrite:
    case kCmdClear: // the clear's blank cells are the latest cells
        WriteLatestCells(driver, LatestWrite::kWriteCommand);
        break;
    case kCmdService:
        DeviceService();
        break;
    case kCmdRegisterKeyWindow:
        RegisterKeyWindow(command);
        break;
    case kCmdReadDeviceData:
        ReadDeviceData(driver, command.answer());
        break;
    default: // quit, no-op and status writes: the common tail is all
        break;
    }
}

enum class LoopStep { kGoOn, kQuit, kDisowned };

// Runs one command and the common tail: its waiter released, the event set.
LoopStep RunCommand(WorkerLaunch* launch, QueuedCommand& command) {
    try {
        HandleCommand(launch->driver, command);
    } catch (const WorkerDisowned&) {
        return LoopStep::kDisowned; // its waiter has long given up: no acknowledgement
    } catch (...) {
        // Out of memory, say: the worker goes on with the next command.
    }
    command.Finish();
    SetEvent(launch->ackEvent);
    return command.command() == kCmdQuit ? LoopStep::kQuit : LoopStep::kGoOn;
}

// One look at the worker's own queue: every command in it runs, in order.
LoopStep RunQueuedCommands(WorkerLaunch* launch) {
    QueuedCommand command;
    while (launch->commands.Pop(&command)) {
        const LoopStep step = RunCommand(launch, command);
        if (step != LoopStep::kGoOn)
            return step;
    }
    return LoopStep::kGoOn;
}

LoopStep ServiceTick(WorkerLaunch* launch) {
    try {
        DeviceService();
        RetryLinkWhileHostSilent(launch->driver);
    } catch (const WorkerDisowned&) {
        return LoopStep::kDisowned;
    } catch (...) {
    }
    SetEvent(launch->ackEvent);
    return LoopStep::kGoOn;
}

bool IsOwnTick(const MSG& msg, UINT_PTR timer) {
    return msg.hwnd == nullptr && msg.message == WM_TIMER && timer != 0 && msg.wParam == timer;
}

// Takes the next message, standing outside the driver's code while it waits.
// A WM_QUIT posted by anyone (0) or an error (-1) is nothing: only the quit
// command ends the worker. False once the worker has been disowned.
bool NextMessage(MSG* msg, bool* got) {
    LeaveDriver();
    *got = GetMessageA(msg, nullptr, 0, 0) > 0;
    return ReturnToDriver();
}

// Another message for this thread: a window or timer of the device library's,
// or anyone's thread message, which the system hands to nothing of ours. It
// runs outside the driver's code.
bool DispatchOutsideDriver(const MSG& msg) {
    LeaveDriver();
    DispatchMessageA(&msg);
    return ReturnToDriver();
}

// Every message is a wake-up: after it, one look at the queue. Returns kQuit
// once the quit command has run, kDisowned when the driver gave up on the worker.
LoopStep RunMessageLoop(WorkerLaunch* launch, UINT_PTR timer) {
    MSG msg;
    for (;;) {
        bool got = false;
        if (!NextMessage(&msg, &got))
            return LoopStep::kDisowned;
        LoopStep step = LoopStep::kGoOn;
        if (got && IsOwnTick(msg, timer))
            step = ServiceTick(launch);
        else if (got && !DispatchOutsideDriver(msg))
            step = LoopStep::kDisowned;
        if (step == LoopStep::kGoOn)
            step = RunQueuedCommands(launch);
        if (step != LoopStep::kGoOn)
            return step;
    }
}

} // namespace

unsigned __stdcall WorkerMain(void* argument) {
    auto* launch = static_cast<WorkerLaunch*>(argument);
    const HMODULE pinned = launch->pinnedModule;
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE); // creates the queue
    if (EnterWorker(launch)) {
        SetEvent(launch->ackEvent);
        const UINT_PTR timer = SetTimer(nullptr, 0, qorn::kServiceTimerMs, nullptr);
        if (RunMessageLoop(launch, timer) != LoopStep::kDisowned)
            EndWorker(launch);
        if (timer != 0)
            KillTimer(nullptr, timer);
    }
    // Commands queued behind the quit, or left to a disowned worker, never
    // run: their waiters are released now.
    launch->commands.Close();
    UnbindWorker();
    ReleaseLaunch(launch);
    return ExitThreadReleasingModule(pinned, 0);
}

int StartWorker(CBrailleSampleDriver* driver) {
    auto* launch = new (std::nothrow) WorkerLaunch;
    if (launch == nullptr)
        return 0;
    launch->driver = driver;
    launch->ackEvent = DuplicateOwnHandle(driver->m_hAckEvent);
    if (launch->ackEvent == nullptr) {
        delete launch;
        return 0;
    }
    launch->pinnedModule = PinOwnModule();
    // A write command left in the queue of an earlier worker (one the driver
    // gave up on) will never run: the new worker's queue starts empty.
    driver->m_latestCells.ForgetQueuedWrite();
    unsigned id = 0;
    const uintptr_t thread = _beginthreadex(nullptr, 0, WorkerMain, launch, 0, &id);
    if (thread == 0) {
        if (launch->pinnedModule != nullptr)
            FreeLibrary(launch->pinnedModule);
        launch->references = 1;
        ReleaseLaunch(launch);
        return 0;
    }
    SetThreadPriority(reinterpret_cast<HANDLE>(thread), THREAD_PRIORITY_ABOVE_NORMAL);
    ScopedLock locked(&driver->m_channelLock); // commands may be queued from here on
    driver->m_hWorkerThread = reinterpret_cast<HANDLE>(thread);
    driver->m_workerThreadId = id;
    driver->m_pWorkerLaunch = launch;
    return 1;
}

namespace {
// The driver lets go of the worker's handle and launch record; the worker itself
// may still be running. No command is queued for it from here on.
void LetGoOfWorker(CBrailleSampleDriver* driver) {
    WorkerLaunch* launch = nullptr;
    HANDLE thread = nullptr;
    {
        ScopedLock locked(&driver->m_channelLock);
        launch = driver->m_pWorkerLaunch;
        thread = driver->m_hWorkerThread;
        driver->m_pWorkerLaunch = nullptr;
        driver->m_hWorkerThread = nullptr;
        driver->m_workerThreadId = 0;
    }
    if (thread != nullptr)
        CloseHandle(thread);
    if (launch == nullptr)
        return;
    // Whatever is still queued will never run: its waiters are released now.
    launch->commands.Close();
    ReleaseLaunch(launch);
}
} // namespace

bool AwaitWorkerReady(CBrailleSampleDriver* driver, DWORD timeoutMs) {
    WaitForSingleObject(driver->m_hAckEvent, timeoutMs);
    WorkerLaunch* launch = driver->m_pWorkerLaunch;
    if (launch == nullptr)
        return false;
    long expected = WorkerLaunch::kStarting;
    if (!launch->state.compare_exchange_strong(expected, WorkerLaunch::kDisowned))
        return true; // the worker reached its loop, perhaps just now
    ReportToDebugger(L"the device worker was not ready within %lu ms; abandoned", timeoutMs);
    LetGoOfWorker(driver);
    return false;
}

void ReleaseWorker(CBrailleSampleDriver* driver, DWORD timeoutMs) {
    if (driver->m_hWorkerThread != nullptr)
        WaitForSingleObject(driver->m_hWorkerThread, timeoutMs);
    LetGoOfWorker(driver);
}

void AbandonWorker(CBrailleSampleDriver* driver, const wchar_t* gaveUp) {
    if (driver->m_pWorkerLaunch != nullptr &&
        DisownWorker(driver->m_pWorkerLaunch, driver->m_hWorkerThread)) {
        // The library may still hold, or be about to open, that worker's link.
        driver->m_linkMayBeOpen = 1;
        ReportToDebugger(L"%ls gave up; the device worker, stuck in the device library, is "
                         L"abandoned and ends once its call returns",
                         gaveUp);
    }
    LetGoOfWorker(driver);
}
