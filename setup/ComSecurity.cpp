#include "ComSecurity.h"

#include <objbase.h>

HRESULT SetProcessComSecurity() {
    return CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
}

bool SecurityLetsSearchRun(HRESULT securityResult) {
    return SUCCEEDED(securityResult) || securityResult == RPC_E_TOO_LATE;
}

bool ComReadyForSearch(bool apartmentJoined, HRESULT securityResult) {
    return apartmentJoined && SecurityLetsSearchRun(securityResult);
}
