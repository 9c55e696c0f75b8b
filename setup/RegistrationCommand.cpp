#include "RegistrationCommand.h"

#include <windows.h>
#include <shellapi.h>

namespace {
constexpr wchar_t kCommandHead[] = L"/type b /action a /d QornDriver /n Qorn /l \"Lumivo 12\" /p ";
constexpr wchar_t kCommandTail[] = L" /reg QornTI.dll /default";
constexpr wchar_t kAutomaticPort[] = L"AUTO";

bool IsAsciiLetterOrDigit(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9');
}
} // namespace

bool IsPlainPortName(const std::wstring& deviceId) {
    if (deviceId.empty())
        return false;
    for (wchar_t c : deviceId) {
        if (!IsAsciiLetterOrDigit(c))
            return false;
    }
    return true;
}

std::wstring RegistrationCommandLine(bool discoveryEnded, const DiscoveryResult& discovery) {
    const bool portFound =
        discoveryEnded && discovery.completed == 1 && IsPlainPortName(discovery.deviceId);
    return kCommandHead + (portFound ? discovery.deviceId : std::wstring(kAutomaticPort)) +
           kCommandTail;
}

void StartDriverUtility(const std::wstring& driverUtilityPath, const std::wstring& commandLine) {
    ShellExecuteW(nullptr, L"open", driverUtilityPath.c_str(), commandLine.c_str(), nullptr,
                  SW_SHOWNORMAL);
}
