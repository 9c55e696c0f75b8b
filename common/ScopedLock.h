// Holds an SRW lock exclusively for a scope.
#pragma once

#include <windows.h>

class ScopedLock {
public:
    explicit ScopedLock(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
    ~ScopedLock() { ReleaseSRWLockExclusive(lock_); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    SRWLOCK* lock_;
};
