#include "TestSupport.h"

GuardedBuffer::GuardedBuffer(size_t size) : size_(size) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t dataPages = (size + page - 1) / page;
    reserved_ = (dataPages + 1) * page;
    base_ = static_cast<char*>(
        VirtualAlloc(nullptr, reserved_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base_ + dataPages * page, page, PAGE_NOACCESS, &old);
    data_ = base_ + dataPages * page - size;
}

GuardedBuffer::~GuardedBuffer() {
    VirtualFree(base_, 0, MEM_RELEASE);
}

std::vector<SimCall> SimCallsSince(int from, int ordinal) {
    std::vector<SimCall> calls;
    const int count = SimCallCount();
    for (int i = from; i < count; ++i) {
        SimCall call;
        if (SimGetCall(i, &call) && (ordinal < 0 || call.ordinal == ordinal))
            calls.push_back(call);
    }
    return calls;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline)
            return condition();
        Sleep(2);
    }
    return true;
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(Now().QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

HANDLE DuplicateThreadHandle(HANDLE thread) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE, 0);
    return copy;
}
