#include "KeyDeliveryExit.h"

#include <cstring>

#include "ModulePin.h"

namespace {

// sub rsp, 40; call [rip+14] (FreeLibrary, with the module already in rcx);
// xor eax, eax; add rsp, 40; ret (an epilogue a stack walk recognises). The
// pointer to FreeLibrary follows at 24, then the stub's unwind data.
constexpr unsigned char kExitCode[] = {0x48, 0x83, 0xEC, 0x28, 0xFF, 0x15, 0x0E, 0x00, 0x00,
                                       0x00, 0x31, 0xC0, 0x48, 0x83, 0xC4, 0x28, 0xC3};
constexpr size_t kFreeLibraryAt = 24;
constexpr size_t kFunctionAt = 32;
constexpr size_t kUnwindAt = 48;
// Version 1; a 4-byte prologue with one code: at offset 4, a small stack
// allocation of (4 + 1) * 8 = 40 bytes.
constexpr unsigned char kUnwindInfo[] = {0x01, 0x04, 0x01, 0x00, 0x04, 0x42, 0x00, 0x00};
constexpr SIZE_T kStubBytes = 4096;

void* MakeExitStub() {
    auto* stub = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, kStubBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (stub == nullptr)
        return nullptr;
    memcpy(stub, kExitCode, sizeof kExitCode);
    const auto freeLibrary = reinterpret_cast<ULONG_PTR>(&FreeLibrary);
    memcpy(stub + kFreeLibraryAt, &freeLibrary, sizeof freeLibrary);
    auto* function = reinterpret_cast<RUNTIME_FUNCTION*>(stub + kFunctionAt);
    *function = RUNTIME_FUNCTION{0, sizeof kExitCode, kUnwindAt};
    memcpy(stub + kUnwindAt, kUnwindInfo, sizeof kUnwindInfo);
    DWORD previous = 0;
    if (!VirtualProtect(stub, kStubBytes, PAGE_EXECUTE_READ, &previous)) {
        VirtualFree(stub, 0, MEM_RELEASE);
        return nullptr; // a process that allows no code to be made
    }
    FlushInstructionCache(GetCurrentProcess(), stub, sizeof kExitCode);
    RtlAddFunctionTable(function, 1, reinterpret_cast<DWORD64>(stub));
    return stub;
}

} // namespace

// Made once, before the first window, and never freed: a thread may still be
// on its way out through it when the library that made it is gone. Read by
// NotifyWindowProc below on its way out.
extern "C" void* g_qornKeyExitStub;
void* g_qornKeyExitStub = nullptr;

void PrepareKeyDeliveryExit() {
    if (g_qornKeyExitStub == nullptr)
        g_qornKeyExitStub = MakeExitStub();
}

HMODULE HoldDriverForKeyDelivery() {
    return g_qornKeyExitStub != nullptr ? PinOwnModule() : nullptr;
}

// LRESULT NotifyWindowProc(HWND, UINT, WPARAM, LPARAM): calls the body with a
// fifth argument, the address of a module handle it may set. When it did, the
// frame is taken down and the procedure jumps to the exit stub, which frees
// the module and returns 0 to the system; the driver's code is left first.
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
    jnz .Lleave_through_stub
    addq $56, %rsp
    ret
.Lleave_through_stub:
    addq $56, %rsp
    jmpq *g_qornKeyExitStub(%rip)
    .seh_endproc
)");
