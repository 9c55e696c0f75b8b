// What the process holds at one moment, counted the ways Windows offers, so a
// long run can show that it gives back everything it takes.
#pragma once

#include "ProcessMemory.h"

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

// Wine 8 answers 0 for the handle count, the GUI objects and the private
// bytes, so each figure that Wine leaves empty is also counted another way.
struct ProcessCensus {
    size_t handles = 0;      // GetProcessHandleCount, or open handle values probed
    DWORD gdiObjects = 0;    // GetGuiResources (Wine answers 0)
    DWORD userObjects = 0;   // GetGuiResources (Wine answers 0)
    size_t threads = 0;      // Toolhelp
    size_t windows = 0;      // every window of the process's threads, children included
    size_t privateBytes = 0; // committed private memory (VirtualQuery)
    size_t heapBytes = 0;    // busy blocks of every process heap (HeapWalk)
    // Reserved or committed, of any kind, but the heaps' own regions, which
    // grow in steps of megabytes with what they hold (VirtualQuery, HeapWalk).
    size_t addressSpaceOutsideHeaps = 0;
};

ProcessCensus TakeCensus();

// Ids of the threads of this process (Toolhelp).
std::set<DWORD> ThreadIdsOfProcess();

// Every window that belongs to a thread of this process: top-level, their
// children, and message-only windows.
std::vector<HWND> WindowsOfProcess();

// Top-level windows of this process with the given class.
size_t CountWindowsOfClass(const char* className);

// Bytes in busy blocks of every heap of the process; with regionBytes, also
// the address space of the heaps' regions.
size_t HeapBytesInUse(size_t* regionBytes = nullptr);

// Open handles of the process: GetProcessHandleCount where the system answers
// it, else the handle values that GetHandleInformation accepts.
size_t OpenHandleCount();

// "a→b" for a count or a size, for the table.
std::string Change(size_t before, size_t after);
std::string ByteChange(size_t before, size_t after);
