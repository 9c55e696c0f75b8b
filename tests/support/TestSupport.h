// Helpers shared by the Windows test programs.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <windows.h>

#include "ProcessMemory.h"
#include "SimulatedDisplay.h"

// A buffer of the given size that ends right before a PAGE_NOACCESS page, so
// that any write or read past its end crashes the test.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    char* data() const { return data_; }
    size_t size() const { return size_; }

private:
    char* base_ = nullptr;
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t reserved_ = 0;
};

// Calls of the simulated display logged from index `from` on, of one ordinal (or all: -1).
std::vector<SimCall> SimCallsSince(int from, int ordinal = -1);

// Polls the condition every few milliseconds, without serving messages.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);

double MillisecondsSince(const LARGE_INTEGER& start);
LARGE_INTEGER Now();

// How long the call took, in milliseconds.
template <typename Call> double Timed(Call call) {
    const LARGE_INTEGER start = Now();
    call();
    return MillisecondsSince(start);
}

// A handle of the caller's own on a thread, to wait for its end after the
// driver has closed its handle; null if the system refuses.
HANDLE DuplicateThreadHandle(HANDLE thread);
