// The device worker: one thread per open driver that makes every call into the
// device library apart from key-window registration, device data and unload.
#pragma once

#include <windows.h>

class CBrailleSampleDriver;

// Starts the worker (above-normal priority) and records its handle and id.
// Returns nonzero if the thread was created.
int StartWorker(CBrailleSampleDriver* driver);

// Waits up to timeoutMs for the worker to have its message queue. A worker that
// is not ready by then is disowned: it exits as soon as it runs, without
// touching the driver, and no later command is posted to it.
bool AwaitWorkerReady(CBrailleSampleDriver* driver, DWORD timeoutMs);

// Waits up to timeoutMs for the worker to end, then lets go of it.
void ReleaseWorker(CBrailleSampleDriver* driver, DWORD timeoutMs);

// After a wait on the worker gave up (gaveUp names that wait, for the debugger):
// disowns the worker as soon as it stands outside the driver's code and lets go
// of it. A disowned worker ends by itself once its device call returns,
// touching nothing of the driver; a later Open starts a new one.
void AbandonWorker(CBrailleSampleDriver* driver, const wchar_t* gaveUp);

// The worker thread's function; its argument is the launch record StartWorker made.
unsigned __stdcall WorkerMain(void* launch);
