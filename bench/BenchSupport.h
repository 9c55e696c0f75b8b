// Clock, sample statistics, message serving and cell patterns shared by the
// benchmark's measurements.
#pragma once

#include "ProcessMemory.h"
#include "ScreenReaderHost.h"

#include <cstdint>
#include <functional>
#include <vector>

#include <windows.h>

int64_t Ticks();
double TicksToMicros(int64_t ticks);
double MicrosSince(int64_t startTicks);
inline double MillisSince(int64_t startTicks) {
    return MicrosSince(startTicks) / 1000.0;
}

// Splits the span from `from` to the last of `marks` at each mark: the
// milliseconds between one mark and the next, the first part starting at
// `from`. A mark earlier than the one before it counts as that one, so no part
// is negative and the parts add up to the span.
std::vector<double> SplitSpanMs(int64_t from, const std::vector<int64_t>& marks);

// Durations (microseconds unless named otherwise); percentiles by nearest rank.
class Samples {
public:
    void Add(double micros) { values_.push_back(micros); }
    void Append(const Samples& more) {
        values_.insert(values_.end(), more.values_.begin(), more.values_.end());
    }
    bool Empty() const { return values_.empty(); }
    double Percentile(double fraction) const;
    double Median() const { return Percentile(0.5); }
    double Worst() const { return Percentile(1.0); }

private:
    std::vector<double> values_;
};

// Twelve cells that differ for every serial number, so the last write of a
// run can be recognised on the display.
constexpr int kBenchCells = 12;
struct CellPattern {
    unsigned char cells[kBenchCells];
};
CellPattern PatternFor(uint32_t serial);
// A serial number not used before in this process.
uint32_t NextSerial();

// An auto-reset event, closed with its owner.
class AutoEvent {
public:
    AutoEvent() : handle_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~AutoEvent() { CloseHandle(handle_); }
    AutoEvent(const AutoEvent&) = delete;
    AutoEvent& operator=(const AutoEvent&) = delete;
    HANDLE Get() const { return handle_; }
    void Set() const { SetEvent(handle_); }
    bool Wait(DWORD timeoutMs) const {
        return WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0;
    }

private:
    HANDLE handle_;
};

// Runs an action on a thread of its own about a millisecond after being asked,
// so that the asking thread is already waiting for messages when it happens;
// both key-latency measurements start their event this way.
void RunSoonElsewhere(std::function<void()> action);

// Runs a function on a new thread; joined on destruction.
class BenchThread {
public:
    BenchThread(int priority, std::function<void()> body);
    ~BenchThread();
    BenchThread(const BenchThread&) = delete;
    BenchThread& operator=(const BenchThread&) = delete;
    DWORD Id() const { return id_; }

private:
    static unsigned __stdcall Run(void* self);
    std::function<void()> body_;
    HANDLE handle_ = nullptr;
    DWORD id_ = 0;
};
