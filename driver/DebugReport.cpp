#include "DebugReport.h"

#include <cstdarg>
#include <cwchar>

#include "ExceptionShield.h"

namespace {
constexpr wchar_t kPrefix[] = L"QornDriver: ";
constexpr size_t kLineChars = 256;

const wchar_t* FaultKind(DWORD code) {
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
        return L"access violation";
    case 0xE06D7363:
        return L"Microsoft C++ exception";
    case kGccCppExceptionCode:
        return L"C++ exception";
    default:
        return L"exception";
    }
}
} // namespace

void ReportToDebugger(const wchar_t* format, ...) {
    wchar_t text[kLineChars] = {};
    va_list args;
    va_start(args, format);
    vswprintf(text, kLineChars - 1, format, args); // a text cut to fit is still worth a line
    va_end(args);
    text[kLineChars - 1] = L'\0';
    wchar_t line[kLineChars + 16];
    swprintf(line, sizeof line / sizeof line[0], L"%ls%ls\n", kPrefix, text);
    OutputDebugStringW(line);
}

void ReportContainedFault(int ordinal, DWORD exceptionCode) {
    wchar_t where[32] = L"window or timer"; // ordinal 0: a message to one of its own
    if (ordinal != 0)
        swprintf(where, 32, L"ordinal %d", ordinal);
    ReportToDebugger(L"device library %ls raised %ls 0x%08lX; taken as the call failing", where,
                     FaultKind(exceptionCode), static_cast<unsigned long>(exceptionCode));
}
