// Who owns a device worker. The driver owns it until one of the host's bounded
// waits gives up on it; the worker then belongs to no one: once the call it is
// in returns, it touches nothing of the driver, frees what it holds and ends.
//
// A worker is disowned only while it stands outside the driver's own code (in a
// device call, a pause, or waiting for its next message), so it is never caught
// half-way through changing the driver's fields.
#pragma once

#include <atomic>

#include <windows.h>

#include "CommandQueue.h"

class CBrailleSampleDriver;

// Shared by the starter and the worker, freed by whichever lets go last. The
// worker signals through its own duplicate of the acknowledgement event, so it
// never touches a handle the driver has already closed. The worker's commands
// live here too: a disowned worker drops what is still queued for it.
struct WorkerLaunch {
    enum : long { kStarting, kInDriver, kOutside, kEnded, kDisowned };
    CBrailleSampleDriver* driver = nullptr;
    HANDLE ackEvent = nullptr;
    HMODULE pinnedModule = nullptr;
    CommandQueue commands;
    std::atomic<long> state{kStarting};
    // Set by a host that could not wait any longer for the worker to step
    // outside the driver's code: the worker disowns itself when it next does.
    std::atomic<bool> disownAsked{false};
    std::atomic<long> references{2};
};

// Thrown on a disowned worker when it comes back into the driver's code; its
// message loop catches it and the worker ends.
struct WorkerDisowned {};

void ReleaseLaunch(WorkerLaunch* launch);

// On the worker thread, first thing: binds the thread to its launch and enters
// the driver's code. False if the starter had already given up on it.
bool EnterWorker(WorkerLaunch* launch);
// On the worker thread, once its loop has ended normally.
void EndWorker(WorkerLaunch* launch);
// On the worker thread, before it lets go of its launch: from here on nothing
// the thread runs (the library's unload among it) can reach the record.
void UnbindWorker();

// The worker steps out of the driver's code and back. On any other thread both
// do nothing and ReturnToDriver answers true.
void LeaveDriver();
// False when the worker was disowned meanwhile: it must then touch nothing of the driver.
bool ReturnToDriver();
// ReturnToDriver for code deep inside a command: throws WorkerDisowned.
void ReturnToDriverOrUnwind();

// A pause during which the worker stands outside the driver's code.
void PauseOutsideDriver(DWORD milliseconds);

// Host side, once a wait has given up: takes the worker from the driver as soon
// as it stands outside the driver's code, waiting for that at most
// kDisownWaitMs; past it the worker disowns itself at its next step outside.
// False when there was nothing to take: the worker had ended, or its thread is gone.
bool DisownWorker(WorkerLaunch* launch, HANDLE thread);
