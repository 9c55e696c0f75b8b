#include "Clock.h"

namespace {
int64_t CounterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// Read once as the library loads. A function-local static would need the C++
// runtime's guard for thread-safe initialisation, whose lazily made system
// objects a library unloaded and loaded again would leave behind each time.
const int64_t g_counterFrequency = CounterFrequency();
} // namespace

uint64_t MonotonicMs() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint64_t>(now.QuadPart / g_counterFrequency * 1000 +
                                 now.QuadPart % g_counterFrequency * 1000 / g_counterFrequency);
}
