#include "StackGuard.h"

#include <windows.h>

// The names GCC's stack protector and the fortified copy functions expect.
extern "C" {
uintptr_t __stack_chk_guard = qorn::kUnseededStackGuard;
[[noreturn]] void __stack_chk_fail();
[[noreturn]] void __chk_fail();
}

namespace {

[[noreturn]] void FailFast() {
    // __fastfail: reported to Windows Error Reporting, past every handler.
    __asm__ __volatile__("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE));
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
    __builtin_unreachable();
}

// Runs before every other constructor, while no function guarded by the
// canary is active; itself unguarded, as it changes the canary.
__attribute__((constructor(101), no_stack_protector)) void SeedStackGuard() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uintptr_t seed = (static_cast<uintptr_t>(now.dwHighDateTime) << 32) ^ now.dwLowDateTime;
    seed ^= static_cast<uintptr_t>(GetCurrentProcessId()) << 32;
    seed ^= GetCurrentThreadId();
    seed ^=
        static_cast<uintptr_t>(counter.QuadPart) << 32 ^ static_cast<uintptr_t>(counter.QuadPart);
    seed ^= GetTickCount64();
    seed ^= reinterpret_cast<uintptr_t>(&seed); // where the stack lies: random by ASLR
    if (seed == 0 || seed == qorn::kUnseededStackGuard)
        ++seed;
    __stack_chk_guard = seed;
}

} // namespace

extern "C" void __stack_chk_fail() {
    FailFast();
}

extern "C" void __chk_fail() {
    FailFast();
}

uintptr_t qorn::CurrentStackGuard() {
    return __stack_chk_guard;
}
