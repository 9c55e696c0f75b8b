#include "Clock.h"

#include <windows.h>

namespace {
int64_t CounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}
} // namespace

uint64_t MonotonicMs() {
    static const int64_t frequency = CounterFrequency();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / frequency * 1000 +
                                 now.QuadPart % frequency * 1000 / frequency);
}
