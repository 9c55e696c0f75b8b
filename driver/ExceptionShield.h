// Runs a step so that no exception raised in it can end the thread, whether a
// C++ exception of this toolchain's runtime or a structured exception (an
// access violation, a breakpoint, or a C++ exception of another compiler's
// runtime, which reaches this code as a structured exception that catch (...)
// does not see).
#pragma once

#include <windows.h>

// The code reported for a C++ exception of this toolchain's own runtime.
constexpr DWORD kGccCppExceptionCode = 0x20474343;

// What ended a step: the exception's code and, for an access to memory, the
// address accessed (else 0).
struct ShieldedFault {
    DWORD code = 0;
    ULONG_PTR address = 0;
};

// Runs step(context) on this thread and returns true when it ran to its end,
// false when an exception ended it; the exception is dropped and, if fault
// is given, described there.
//
// The step's frames must own nothing that needs a destructor: GCC's frames run
// their cleanups only for GCC's own exceptions, so a structured exception
// unwinds them without running any.
bool RunShielded(void (*step)(void* context), void* context, ShieldedFault* fault = nullptr);

// The same for a lambda, which may capture only references and plain values.
template <typename Step> bool RunShieldedStep(Step& step, ShieldedFault* fault = nullptr) {
    return RunShielded([](void* s) { (*static_cast<Step*>(s))(); }, &step, fault);
}
