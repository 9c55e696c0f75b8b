#include "DebuggerOutput.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#ifndef DBG_PRINTEXCEPTION_WIDE_C
#define DBG_PRINTEXCEPTION_WIDE_C 0x4001000A
#endif

namespace {

std::mutex g_lock;
std::vector<std::string> g_lines;
bool g_keepLines = true;
std::atomic<int> g_total{0};
// Windows raises the wide form first and, if nobody takes it, the narrow one
// on the same thread: that narrow one is not a text of its own.
DWORD g_wideThread = 0;

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text != L'\0'; ++text)
        narrow += *text < 128 ? static_cast<char>(*text) : '?';
    return narrow;
}

LONG CALLBACK KeepDebuggerText(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    const bool wide = record->ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C;
    if ((!wide && record->ExceptionCode != DBG_PRINTEXCEPTION_C) || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const ULONG_PTR text = record->ExceptionInformation[1];
    std::lock_guard<std::mutex> lock(g_lock);
    const DWORD thread = GetCurrentThreadId();
    if (!wide && g_wideThread == thread) {
        g_wideThread = 0;
        return EXCEPTION_CONTINUE_SEARCH;
    }
    g_wideThread = wide ? thread : 0;
    ++g_total;
    if (g_keepLines)
        g_lines.push_back(wide ? Narrow(reinterpret_cast<const wchar_t*>(text))
                               : std::string(reinterpret_cast<const char*>(text)));
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

DebuggerOutput::DebuggerOutput(Mode mode) {
    Clear();
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_keepLines = mode == kKeepLines;
    }
    handler_ = AddVectoredExceptionHandler(1, KeepDebuggerText);
}

DebuggerOutput::~DebuggerOutput() {
    RemoveVectoredExceptionHandler(handler_);
}

std::vector<std::string> DebuggerOutput::Lines() const {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_lines;
}

int DebuggerOutput::Count(const std::vector<std::string>& parts) const {
    int count = 0;
    for (const std::string& line : Lines()) {
        bool all = true;
        for (const std::string& part : parts)
            all = all && line.find(part) != std::string::npos;
        count += all;
    }
    return count;
}

int DebuggerOutput::Total() const {
    return g_total;
}

void DebuggerOutput::Clear() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_lines.clear();
    g_total = 0;
}
