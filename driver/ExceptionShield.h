// Runs a step of the worker so that no exception the device library raises in
// it can end the worker, whether a C++ exception of this toolchain's runtime or
// a structured exception (an access violation, or a C++ exception of another
// compiler's runtime, which reaches this code as a structured exception that
// catch (...) does not see).
#pragma once

#include <windows.h>

// The code reported for a C++ exception of this toolchain's own runtime.
constexpr DWORD kGccCppExceptionCode = 0x20474343;

// Runs step(context) on this thread and returns true when it ran to its end,
// false when an exception ended it; the exception is dropped and, if
// exceptionCode is given, its code stored there.
//
// The step's frames must own nothing that needs a destructor: GCC's frames run
// their cleanups only for GCC's own exceptions, so a structured exception
// unwinds them without running any.
bool RunShielded(void (*step)(void* context), void* context, DWORD* exceptionCode = nullptr);
