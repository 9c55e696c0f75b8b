// How a key delivery leaves the driver. The host's callbacks run while the
// window's thread is inside the driver's code, and a host may close and free
// the driver from another thread meanwhile; so a delivery holds the driver
// library loaded, and lets go of it only once its thread has left the
// driver's code. The window procedure's last act is a tail call of the
// system's SignalObjectAndWait on an event of the delivery's own, which
// answers the message with WAIT_OBJECT_0 (0) from the system's code; a
// thread-pool callback waiting for that event lets go of the hold as it
// returns (FreeLibraryWhenCallbackReturns).
//
// The window procedure itself; its body and the way out are in KeyInput.cpp.

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
