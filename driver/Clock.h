// Milliseconds of a monotonic clock with sub-millisecond resolution, for the
// driver's own timing (how long the host has been silent). GetTickCount64
// moves in steps of about 16 ms, too coarse for a wait that ends on time.
#pragma once

#include <cstdint>

#include <windows.h>

uint64_t MonotonicMs();

// What is left of a bound that starts when the object is made.
class Deadline {
public:
    explicit Deadline(DWORD limitMs) : start_(MonotonicMs()), limitMs_(limitMs) {}
    DWORD Remaining() const {
        const uint64_t spent = MonotonicMs() - start_;
        return spent >= limitMs_ ? 0 : static_cast<DWORD>(limitMs_ - spent);
    }

private:
    uint64_t start_;
    DWORD limitMs_;
};
