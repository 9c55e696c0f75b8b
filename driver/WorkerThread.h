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

// The worker thread's function; its argument is the launch record StartWorker made.
unsigned __stdcall WorkerMain(void* launch);
