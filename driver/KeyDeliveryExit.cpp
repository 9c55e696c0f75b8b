#include "KeyDeliveryExit.h"

#include "../common/Parameters.h"
#include "ModulePin.h"

namespace {

// Runs on a pool thread, in the driver's code, which the hold keeps loaded
// until this callback has returned. A thread that has not left within the
// bound keeps the hold and its event: nothing goes from under it.
void CALLBACK LetGoOnceLeft(PTP_CALLBACK_INSTANCE instance, void* left) {
    if (WaitForSingleObject(left, qorn::kKeyExitWaitMs) != WAIT_OBJECT_0)
        return;
    CloseHandle(left);
    if (const HMODULE module = OwnModule())
        FreeLibraryWhenCallbackReturns(instance, module);
}

} // namespace

bool HoldDriverForKeyDelivery() {
    return PinOwnModule() != nullptr;
}

// Manual reset: SignalObjectAndWait's wait on the event it has just set ends
// at once with WAIT_OBJECT_0, whether or not the pool thread woke first.
HANDLE ArrangeKeyDeliveryExit() {
    const HANDLE left = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (left != nullptr && !TrySubmitThreadpoolCallback(LetGoOnceLeft, left, nullptr)) {
        CloseHandle(left);
        return nullptr;
    }
    return left;
}

// LRESULT NotifyWindowProc(HWND, UINT, WPARAM, LPARAM): calls the body with a
// fifth argument, the address of an event it may set. When it did, the frame
// is taken down and the procedure jumps to SignalObjectAndWait(event, event,
// 0, FALSE), which returns WAIT_OBJECT_0 to the system: the driver's code is
// left before the event is set. The epilogue (add rsp, then a jmp through the
// import slot) is one the system's stack walk recognises.
asm(R"(
    .text
    .p2align 4
    .globl NotifyWindowProc
    .def NotifyWindowProc; .scl 2; .type 32; .endef
    .seh_proc NotifyWindowProc
NotifyWindowProc:
    subq $56, %rsp
    .seh_stackalloc 56
    .seh_endprologue
    movq $0, 40(%rsp)
    leaq 40(%rsp), %rax
    movq %rax, 32(%rsp)
    call QornNotifyWindowBody
    movq 40(%rsp), %rcx
    testq %rcx, %rcx
    jnz .Lleave_signalling
    addq $56, %rsp
    ret
.Lleave_signalling:
    movq %rcx, %rdx
    xorl %r8d, %r8d
    xorl %r9d, %r9d
    addq $56, %rsp
    jmpq *__imp_SignalObjectAndWait(%rip)
    .seh_endproc
)");
