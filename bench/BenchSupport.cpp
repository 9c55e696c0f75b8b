#include "BenchSupport.h"

#include <process.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
int64_t Frequency() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return frequency;
}
} // namespace

int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double TicksToMicros(int64_t ticks) {
    return 1e6 * static_cast<double>(ticks) / static_cast<double>(Frequency());
}

double MicrosSince(int64_t startTicks) {
    return TicksToMicros(Ticks() - startTicks);
}

std::vector<double> SplitSpanMs(int64_t from, const std::vector<int64_t>& marks) {
    std::vector<double> parts;
    int64_t previous = from;
    for (const int64_t mark : marks) {
        const int64_t at = std::max(mark, previous);
        parts.push_back(TicksToMicros(at - previous) / 1000.0);
        previous = at;
    }
    return parts;
}

double Samples::Percentile(double fraction) const {
    if (values_.empty())
        return 0.0;
    std::vector<double> sorted = values_;
    std::sort(sorted.begin(), sorted.end());
    const double rank = std::ceil(fraction * static_cast<double>(sorted.size()));
    const size_t index = static_cast<size_t>(std::max(rank, 1.0)) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

CellPattern PatternFor(uint32_t serial) {
    CellPattern pattern;
    for (int i = 0; i < kBenchCells; ++i)
        pattern.cells[i] = static_cast<unsigned char>(0x40 + i);
    memcpy(pattern.cells, &serial, sizeof serial);
    return pattern;
}

uint32_t NextSerial() {
    static uint32_t serial = 0;
    return ++serial;
}

namespace {
class DeferredRunner {
public:
    DeferredRunner() : thread_(THREAD_PRIORITY_NORMAL, [this] { Loop(); }) {}
    void Run(std::function<void()> action) {
        action_ = std::move(action);
        go_.Set();
    }

private:
    void Loop() {
        for (;;) {
            go_.Wait(INFINITE);
            Sleep(1);
            action_();
        }
    }
    AutoEvent go_;
    std::function<void()> action_;
    BenchThread thread_;
};
} // namespace

// The runner lives as long as the process: its thread ends with it.
void RunSoonElsewhere(std::function<void()> action) {
    static DeferredRunner* const runner = new DeferredRunner;
    runner->Run(std::move(action));
}

BenchThread::BenchThread(int priority, std::function<void()> body) : body_(std::move(body)) {
    unsigned id = 0;
    handle_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0, &id));
    id_ = id;
    if (handle_ != nullptr)
        SetThreadPriority(handle_, priority);
}

BenchThread::~BenchThread() {
    if (handle_ == nullptr)
        return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
}

unsigned __stdcall BenchThread::Run(void* self) {
    static_cast<BenchThread*>(self)->body_();
    return 0;
}
