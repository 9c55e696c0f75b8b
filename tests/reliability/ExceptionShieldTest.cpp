// The shield around the worker's link steps, on its own: what it lets a step
// finish, what it ends, and that the thread goes on normally afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>

#include "ExceptionShield.h"

namespace {

struct Step {
    int reached = 0;
    DWORD raise = 0;
    bool throwCpp = false;
};

volatile int32_t* InaccessiblePage() {
    static void* const page = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
    return static_cast<volatile int32_t*>(page);
}

__attribute__((noinline)) void Inner(Step* step) {
    step->reached = 1;
    if (step->throwCpp)
        throw std::runtime_error("library failure");
    if (step->raise == EXCEPTION_ACCESS_VIOLATION)
        *InaccessiblePage() = 1;
    else if (step->raise != 0)
        RaiseException(step->raise, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    step->reached = 2;
}

void RunStep(void* context) {
    Inner(static_cast<Step*>(context));
}

} // namespace

TEST(ExceptionShield, AStepThatReturnsRunsToItsEnd) {
    Step step;
    EXPECT_TRUE(RunShielded(RunStep, &step));
    EXPECT_EQ(step.reached, 2);
}

TEST(ExceptionShield, CppAndStructuredExceptionsEndTheStepAndAreDropped) {
    // Every severity: errors, warnings (a breakpoint, a guard page), informational, success.
    const DWORD codes[] = {EXCEPTION_ACCESS_VIOLATION,
                           0xE06D7363,
                           EXCEPTION_INT_DIVIDE_BY_ZERO,
                           0xE0000001,
                           EXCEPTION_BREAKPOINT,
                           EXCEPTION_GUARD_PAGE,
                           0x40010006,
                           0x00000007};
    for (int round = 0; round < 100; ++round) { // the thread stays usable after each
        for (DWORD code : codes) {
            Step step;
            step.raise = code;
            ShieldedFault caught;
            EXPECT_FALSE(RunShielded(RunStep, &step, &caught)) << std::hex << code;
            EXPECT_EQ(caught.code, code);
            EXPECT_EQ(caught.address, code == EXCEPTION_ACCESS_VIOLATION
                                          ? reinterpret_cast<ULONG_PTR>(InaccessiblePage())
                                          : 0u);
            EXPECT_EQ(step.reached, 1);
        }
        Step cpp;
        cpp.throwCpp = true;
        ShieldedFault caught;
        EXPECT_FALSE(RunShielded(RunStep, &cpp, &caught));
        EXPECT_EQ(caught.code, kGccCppExceptionCode);
        EXPECT_EQ(cpp.reached, 1);
    }
    Step after;
    ShieldedFault untouched{7, 7};
    EXPECT_TRUE(RunShielded(RunStep, &after, &untouched));
    EXPECT_EQ(untouched.code, 7u);
    EXPECT_EQ(after.reached, 2);
}
