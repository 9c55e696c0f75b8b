// The stack canaries' runtime that both deliverables link (common/StackGuard.cpp),
// as it runs in this program, which is built like them.
#include <gtest/gtest.h>

#include "StackGuard.h"

namespace {

TEST(StackGuard, IsSeededBeforeAnyTestRuns) {
    EXPECT_NE(qorn::CurrentStackGuard(), qorn::kUnseededStackGuard);
    EXPECT_NE(qorn::CurrentStackGuard(), 0u);
}

} // namespace
