#include "WorkerOwnership.h"

#include "../common/Parameters.h"
#include "Clock.h"

namespace {

// Which launch the calling thread is the worker of (null on every other thread).
class WorkerSlot {
public:
    WorkerSlot() : index_(TlsAlloc()) {}
    ~WorkerSlot() {
        if (index_ != TLS_OUT_OF_INDEXES)
            TlsFree(index_);
    }
    WorkerSlot(const WorkerSlot&) = delete;
    WorkerSlot& operator=(const WorkerSlot&) = delete;

    void Bind(WorkerLaunch* launch) const {
        if (index_ != TLS_OUT_OF_INDEXES)
            TlsSetValue(index_, launch);
    }
    WorkerLaunch* Current() const {
        return index_ != TLS_OUT_OF_INDEXES ? static_cast<WorkerLaunch*>(TlsGetValue(index_))
                                            : nullptr;
    }

private:
    DWORD index_;
};

const WorkerSlot g_workerSlot;

bool ThreadHasEnded(HANDLE thread) {
    return thread == nullptr || WaitForSingleObject(thread, 0) != WAIT_TIMEOUT;
}

} // namespace

void ReleaseLaunch(WorkerLaunch* launch) {
    if (--launch->references != 0)
        return;
    if (launch->ackEvent != nullptr)
        CloseHandle(launch->ackEvent);
    delete launch;
}

bool EnterWorker(WorkerLaunch* launch) {
    g_workerSlot.Bind(launch);
    long expected = WorkerLaunch::kStarting;
    return launch->state.compare_exchange_strong(expected, WorkerLaunch::kInDriver);
}

void EndWorker(WorkerLaunch* launch) {
    launch->state = WorkerLaunch::kEnded;
}

void UnbindWorker() {
    g_workerSlot.Bind(nullptr);
}

void LeaveDriver() {
    if (WorkerLaunch* launch = g_workerSlot.Current())
        launch->state = launch->disownAsked ? WorkerLaunch::kDisowned : WorkerLaunch::kOutside;
}

bool ReturnToDriver() {
    WorkerLaunch* launch = g_workerSlot.Current();
    if (launch == nullptr)
        return true;
    if (launch->disownAsked) { // the host let go while this worker was in the driver's code
        launch->state = WorkerLaunch::kDisowned;
        return false;
    }
    long expected = WorkerLaunch::kOutside;
    return launch->state.compare_exchange_strong(expected, WorkerLaunch::kInDriver);
}

void ReturnToDriverOrUnwind() {
    if (!ReturnToDriver())
        throw WorkerDisowned();
}

void PauseOutsideDriver(DWORD milliseconds) {
    LeaveDriver();
    Sleep(milliseconds);
    ReturnToDriverOrUnwind();
}

bool DisownWorker(WorkerLaunch* launch, HANDLE thread) {
    const Deadline deadline(qorn::kDisownWaitMs);
    for (;;) {
        long state = launch->state;
        if (state == WorkerLaunch::kEnded || state == WorkerLaunch::kDisowned)
            return false;
        if ((state == WorkerLaunch::kOutside || state == WorkerLaunch::kStarting) &&
            launch->state.compare_exchange_strong(state, WorkerLaunch::kDisowned))
            return true;
        if (ThreadHasEnded(thread))
            return false;
        if (deadline.Remaining() == 0) {
            // Held in the driver's own code (a debugger, a starved thread): it
            // gives itself up at its next step outside or back.
            launch->disownAsked = true;
            return !ThreadHasEnded(thread);
        }
        // In the driver's own code, which runs from one device call to the
        // next without waiting: it stands outside again within microseconds.
        Sleep(qorn::kDisownRetryMs);
    }
}
