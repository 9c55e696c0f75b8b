// GCC has no __try/__except. The shield is a small function of its own whose
// unwind data names the platform's C language handler with one guarded range
// around the call of the step, exactly as a compiler that has __except emits
// it; the filter below decides which exceptions end there.
#include "ExceptionShield.h"

#include <malloc.h>
#include <windows.h>

namespace {

// GCC's own exceptions (0x2047434x) carry no error severity: they pass the
// filter and reach the catch (...) in RunShielded, which frees them properly.
constexpr DWORD kSeverityMask = 0xC0000000;
constexpr DWORD kSeverityError = 0xC0000000;

// Where QornRunShielded keeps the address for the exception code, from the
// stack pointer after its prologue (the establisher frame): above the 32 bytes
// of home space it gives the step.
constexpr size_t kCodeSlotOffset = 32;

} // namespace

// Called by the C language handler while it looks for a frame to take the
// exception: 1 (execute handler) ends the step, 0 (continue search) lets it pass.
extern "C" LONG QornShieldFilter(EXCEPTION_POINTERS* pointers, void* establisherFrame) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if ((code & kSeverityMask) != kSeverityError)
        return EXCEPTION_CONTINUE_SEARCH;
    DWORD* slot =
        *reinterpret_cast<DWORD**>(static_cast<char*>(establisherFrame) + kCodeSlotOffset);
    if (slot != nullptr)
        *slot = code;
    return EXCEPTION_EXECUTE_HANDLER;
}

// int QornRunShielded(void (*step)(void*), void* context, DWORD* code): 1 when
// the step returned, 0 when the handler unwound it to .Lshield_caught. The nop
// keeps the call's return address inside the guarded range.
asm(R"(
    .text
    .p2align 4
    .globl QornRunShielded
    .def QornRunShielded; .scl 2; .type 32; .endef
    .seh_proc QornRunShielded
QornRunShielded:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %r8, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
.Lshield_begin:
    call *%rax
    nop
.Lshield_end:
    movl $1, %eax
    addq $40, %rsp
    ret
.Lshield_caught:
    xorl %eax, %eax
    addq $40, %rsp
    ret
    .seh_handler __C_specific_handler, @except
    .seh_handlerdata
    .long 1
    .rva .Lshield_begin, .Lshield_end, QornShieldFilter, .Lshield_caught
    .text
    .seh_endproc
)");

extern "C" int QornRunShielded(void (*step)(void*), void* context, DWORD* code);

bool RunShielded(void (*step)(void* context), void* context, DWORD* exceptionCode) {
    DWORD code = 0;
    bool returned = false;
    try {
        returned = QornRunShielded(step, context, &code) != 0;
    } catch (...) {
        code = kGccCppExceptionCode;
    }
    // Only now is the overflowed part of the stack unwound: the C runtime puts
    // back the guard page the overflow used up, without which the next
    // overflow on this thread would end the process.
    if (!returned && code == EXCEPTION_STACK_OVERFLOW)
        _resetstkoflw();
    if (!returned && exceptionCode != nullptr)
        *exceptionCode = code;
    return returned;
}
