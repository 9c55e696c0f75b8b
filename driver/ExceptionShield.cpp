// GCC has no __try/__except. The shield is a small function of its own whose
// unwind data names the platform's C language handler with one guarded range
// around the call of the step, exactly as a compiler that has __except emits
// it; the filter below decides which exceptions end there.
#include "ExceptionShield.h"

#include <malloc.h>
#include <windows.h>

namespace {

// GCC's own exceptions (thrown, unwinding, forced unwinding: 0x20474343,
// 0x21474343, 0x22474343) pass the filter and reach the catch (...) in
// RunShielded, which frees them properly. Every other code ends the step,
// whatever its severity: a breakpoint left in a release build (0x80000003) or
// a guard page (0x80000001) would otherwise end the process.
constexpr DWORD kGccExceptionMask = 0xF0FFFFFF;
constexpr DWORD kGccException = 0x20474343;

// Where QornRunShielded keeps the address of the fault record, from the stack
// pointer after its prologue (the establisher frame): above the 32 bytes of
// home space it gives the step.
constexpr size_t kFaultSlotOffset = 32;

} // namespace

// Called by the C language handler while it looks for a frame to take the
// exception: 1 (execute handler) ends the step, 0 (continue search) lets it pass.
extern "C" LONG QornShieldFilter(EXCEPTION_POINTERS* pointers, void* establisherFrame) {
    const DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if ((code & kGccExceptionMask) == kGccException)
        return EXCEPTION_CONTINUE_SEARCH;
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    auto* fault =
        *reinterpret_cast<ShieldedFault**>(static_cast<char*>(establisherFrame) + kFaultSlotOffset);
    fault->code = code;
    if ((code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_GUARD_PAGE) &&
        record->NumberParameters >= 2)
        fault->address = record->ExceptionInformation[1];
    return EXCEPTION_EXECUTE_HANDLER;
}

// int QornRunShielded(void (*step)(void*), void* context, ShieldedFault* fault): 1 when
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

extern "C" int QornRunShielded(void (*step)(void*), void* context, ShieldedFault* fault);

bool RunShielded(void (*step)(void* context), void* context, ShieldedFault* fault) {
    ShieldedFault caught;
    bool returned = false;
    try {
        returned = QornRunShielded(step, context, &caught) != 0;
    } catch (...) {
        caught.code = kGccCppExceptionCode;
    }
    // Only now is the overflowed part of the stack unwound: the C runtime puts
    // back the guard page the overflow used up, without which the next
    // overflow on this thread would end the process.
    if (!returned && caught.code == EXCEPTION_STACK_OVERFLOW)
        _resetstkoflw();
    if (!returned && fault != nullptr)
        *fault = caught;
    return returned;
}
