// The installer's COM security: the call it makes and when the search may run.
#include <gtest/gtest.h>

#include "ComSecurity.h"
#include "ImportPatch.h"

namespace {

TEST(InstallerComSecurity, TheSearchRunsOnlyInTheApartmentWithSecuritySettled) {
    EXPECT_TRUE(ComReadyForSearch(true, S_OK));
    EXPECT_TRUE(ComReadyForSearch(true, RPC_E_TOO_LATE)) << "set earlier in the process";
    EXPECT_FALSE(ComReadyForSearch(true, E_ACCESSDENIED));
    EXPECT_FALSE(ComReadyForSearch(true, RPC_E_NO_GOOD_SECURITY_PACKAGES));
    EXPECT_FALSE(ComReadyForSearch(false, S_OK)) << "no apartment joined";
    EXPECT_TRUE(SecurityLetsSearchRun(S_FALSE));
    EXPECT_FALSE(SecurityLetsSearchRun(E_OUTOFMEMORY));
}

struct SecurityCall {
    HRESULT answer = S_OK;
    int calls = 0;
    bool expectedArguments = false;
} g_security;

HRESULT WINAPI AnswerSecurity(PSECURITY_DESCRIPTOR descriptor, LONG services,
                              SOLE_AUTHENTICATION_SERVICE* list, void* reserved1, DWORD authnLevel,
                              DWORD impLevel, void* authList, DWORD capabilities, void* reserved3) {
    ++g_security.calls;
    g_security.expectedArguments =
        descriptor == nullptr && services == -1 && list == nullptr && reserved1 == nullptr &&
        authnLevel == RPC_C_AUTHN_LEVEL_DEFAULT && impLevel == RPC_C_IMP_LEVEL_IMPERSONATE &&
        authList == nullptr && capabilities == EOAC_NONE && reserved3 == nullptr;
    return g_security.answer;
}

TEST(InstallerComSecurity, AsksForDefaultAuthenticationAndImpersonationAndHandsBackTheAnswer) {
    ImportPatch patch("ole32.dll", "CoInitializeSecurity",
                      reinterpret_cast<void*>(&AnswerSecurity));
    ASSERT_TRUE(patch.applied());
    for (HRESULT answer : {S_OK, RPC_E_TOO_LATE, E_ACCESSDENIED}) {
        g_security = SecurityCall{answer};
        EXPECT_EQ(SetProcessComSecurity(), answer);
        EXPECT_EQ(g_security.calls, 1);
        EXPECT_TRUE(g_security.expectedArguments);
    }
}

} // namespace
