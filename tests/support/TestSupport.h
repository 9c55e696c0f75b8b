// Helpers shared by the Windows test programs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
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

// A program of the bin folder run as a process of its own.
struct ChildRun {
    bool started = false;
    bool ended = false; // within the time given
    DWORD exitCode = 0xFFFFFFFF;
    double milliseconds = 0;
};
// Runs the command line (the program's name first) and waits at most
// timeoutMs for it to end; a child still running then is ended.
ChildRun RunChild(const std::wstring& commandLine, DWORD timeoutMs);
