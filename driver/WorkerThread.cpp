// The worker's message loop and the handlers of the nine commands.
#include "WorkerThread.h"

#include <process.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "BrailleOutput.h"
#include "CommandChannel.h"
#include "DebugReport.h"
#include "DeviceCalls.h"
#include "LinkSupervision.h"
#include "ModulePin.h"
#include "OwnHandle.h"
#include "SampleDriver.h"
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

void HandleCommand(CBrailleSampleDriver* driver, UINT message, const char* buffer, int32_t length) {
    switch (message) {
    case WM_WORKER_OPEN:
        driver->m_cellCount = qorn::kDefaultCellCount;
        driver->m_statusCellCount = 0;
        driver->m_linkWanted = true;
        if (driver->m_alive)
            OpenLink(driver, buffer, buffer != nullptr ? length : 0);
        break;
    case WM_WORKER_CLOSE:
        driver->m_linkWanted = false;
        if (driver->m_alive)
            CloseLink(driver);
        break;
    case WM_WORKER_SUSPEND:
        HandleSuspend(driver, length);
        break;
    case WM_WORKER_WRITE:
    case WM_WORKER_CLEAR: // the clear's blank cells are the latest cells
        WriteLatestCells(driver, LatestWrite::kWriteCommand);
        break;
    case WM_WORKER_SERVICE:
        DeviceService();
        break;
    default: // quit, no-op and status writes: the common tail is all
        break;
    }
}

enum class LoopStep { kGoOn, kQuit, kDisowned };

// Runs one command and the common tail.
LoopStep RunCommand(WorkerLaunch* launch, const MSG& msg) {
    char* buffer = reinterpret_cast<char*>(msg.wParam);
    try {
        HandleCommand(launch->driver, msg.message, buffer, CommandLength(msg.lParam));
    } catch (const WorkerDisowned&) {
        free(buffer); // the command's waiter has long given up: no acknowledgement
        return LoopStep::kDisowned;
    } catch (...) {
        // Out of memory, say: the worker goes on with the next command.
    }
    free(buffer);
    AcknowledgeTicket(launch->driver, CommandTicket(msg.lParam));
    SetEvent(launch->ackEvent);
    return msg.message == WM_WORKER_QUIT ? LoopStep::kQuit : LoopStep::kGoOn;
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

bool IsCommand(const MSG& msg) {
    return msg.hwnd == nullptr && IsWorkerCommand(msg.message);
}

enum class Next { kMessage, kNothing, kDisowned };

// Takes the next message, standing outside the driver's code while it waits.
// A WM_QUIT posted by anyone (0) or an error (-1) is nothing: only
// WM_WORKER_QUIT ends the worker. A disowned worker frees the buffer of a
// command it has just taken.
Next NextMessage(MSG* msg) {
    LeaveDriver();
    const BOOL got = GetMessageA(msg, nullptr, 0, 0);
    if (!ReturnToDriver()) {
        if (got > 0 && IsCommand(*msg))
            free(reinterpret_cast<void*>(msg->wParam));
        return Next::kDisowned;
    }
    return got > 0 ? Next::kMessage : Next::kNothing;
}

// Returns kQuit once WM_WORKER_QUIT has run, kDisowned when the driver gave up on the worker.
LoopStep RunMessageLoop(WorkerLaunch* launch) {
    MSG msg;
    for (;;) {
        const Next next = NextMessage(&msg);
        if (next == Next::kDisowned)
            return LoopStep::kDisowned;
        if (next == Next::kNothing)
            continue;
        LoopStep step = LoopStep::kGoOn;
        if (IsCommand(msg))
            step = RunCommand(launch, msg);
        else if (msg.message == WM_TIMER)
            step = ServiceTick(launch);
        else
            DispatchMessageA(&msg);
        if (step != LoopStep::kGoOn)
            return step;
    }
}

// A disowned worker's queue: the buffers of the commands still in it are its own.
void FreeQueuedCommands() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (IsCommand(msg))
            free(reinterpret_cast<void*>(msg.wParam));
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
        if (RunMessageLoop(launch) == LoopStep::kDisowned)
            FreeQueuedCommands();
        else
            EndWorker(launch);
        if (timer != 0)
            KillTimer(nullptr, timer);
    }
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
    driver->m_hWorkerThread = reinterpret_cast<HANDLE>(thread);
    SetThreadPriority(driver->m_hWorkerThread, THREAD_PRIORITY_ABOVE_NORMAL);
    driver->m_workerThreadId = id;
    driver->m_pWorkerLaunch = launch;
    return 1;
}

namespace {
// The driver lets go of the worker's handle and launch record; the worker itself
// may still be running.
void LetGoOfWorker(CBrailleSampleDriver* driver) {
    if (driver->m_hWorkerThread != nullptr)
        CloseHandle(driver->m_hWorkerThread);
    driver->m_hWorkerThread = nullptr;
    driver->m_workerThreadId = 0;
    if (driver->m_pWorkerLaunch != nullptr)
        ReleaseLaunch(driver->m_pWorkerLaunch);
    driver->m_pWorkerLaunch = nullptr;
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
