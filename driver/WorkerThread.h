// The device worker: one thread per session that makes every call into the
// device library.
#pragma once

#include <windows.h>

#include "Clock.h"
#include "Session.h"

class CBrailleSampleDriver;

// Starts a session of the driver: its acknowledgement event and its worker
// (above-normal priority), and makes it the driver's current session. An empty
// reference when the event or the thread cannot be made.
SessionRef StartSession(CBrailleSampleDriver* driver);

// Waits up to timeoutMs, serving sent messages, for the worker to have its
// message queue. A worker that is not ready by then is abandoned.
bool AwaitWorkerReady(DriverSession& session, DWORD timeoutMs);

// The stop sequence (close command, a pause, quit command, the worker's end),
// all of it within the deadline, after which the session is the driver's no
// more. A worker that does not answer in time is abandoned.
void StopSession(DriverSession& session, const Deadline& deadline);

// The host gives up on the session's worker (gaveUp names the wait that did,
// for the debugger): nothing more is queued for it, and once the call it is in
// returns it makes no more device calls, closes a link it opened and ends.
void AbandonWorker(DriverSession& session, const wchar_t* gaveUp);

// The worker thread's function; its argument is its session, with a
// reference the worker lets go of as it ends.
unsigned __stdcall WorkerMain(void* session);
