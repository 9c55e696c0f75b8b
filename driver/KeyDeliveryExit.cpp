// How a key delivery leaves the driver. The host's callbacks run while the
// window's thread is inside the driver's code, and a host may close and free
// the driver from another thread meanwhile; so a delivery holds the driver
// library loaded, and lets go of it only as its thread leaves the driver's
// code: the window procedure's last act is a tail call of the system's
// FreeLibrary, which returns from there to the system, as
// FreeLibraryAndExitThread does for a thread that ends. The message has been
// answered with 0 before (ReplyMessage), for the library that sent it from a
// thread of its own.

// LRESULT NotifyWindowProc(HWND, UINT, WPARAM, LPARAM): calls the body with a
// fifth argument, the address of a module handle it may set. When it did, the
// frame is taken down and the procedure jumps to FreeLibrary(module), which
// returns to the system: the driver's code is left before the library can go.
// The epilogue (add rsp, then a jmp through the import slot) is one the
// system's stack walk recognises.
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
    jnz .Lleave_releasing
    addq $56, %rsp
    ret
.Lleave_releasing:
    addq $56, %rsp
    jmpq *__imp_FreeLibrary(%rip)
    .seh_endproc
)");
