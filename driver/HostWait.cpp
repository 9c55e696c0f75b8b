#include "HostWait.h"

namespace {
// Runs the handlers of messages sent to this thread; posted ones stay queued.
void ServeSentMessages() {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}
} // namespace

bool WaitServingSentMessages(HANDLE object, const Deadline& deadline) {
    const DWORD count = object != nullptr ? 1 : 0;
    ServeSentMessages(); // any sent before the wait began
    for (;;) {
        const DWORD woke =
            MsgWaitForMultipleObjects(count, &object, FALSE, deadline.Remaining(), QS_SENDMESSAGE);
        if (count == 1 && woke == WAIT_OBJECT_0)
            return true;
        if (woke != WAIT_OBJECT_0 + count)
            return false; // the deadline, or a wait the system refused
        ServeSentMessages();
    }
}
