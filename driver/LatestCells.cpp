#include "LatestCells.h"

class LatestCells::Locked {
public:
    explicit Locked(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
    ~Locked() { ReleaseSRWLockExclusive(lock_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    SRWLOCK* lock_;
};

bool LatestCells::Replace(const uint8_t* cells, int32_t count) {
    Locked locked(&lock_);
    try {
        cells_.assign(cells, cells + count); // keeps its capacity: no allocation once grown
    } catch (...) {
        return false;
    }
    ++version_;
    return true;
}

bool LatestCells::ClaimWriteCommand() {
    Locked locked(&lock_);
    if (writeQueued_)
        return false;
    writeQueued_ = true;
    return true;
}

void LatestCells::ForgetQueuedWrite() {
    Locked locked(&lock_);
    writeQueued_ = false;
}

bool LatestCells::CopyOut(std::vector<uint8_t>* cells, uint64_t* version, bool takeWriteCommand) {
    Locked locked(&lock_);
    if (takeWriteCommand)
        writeQueued_ = false;
    if (version_ == 0)
        return false;
    cells->assign(cells_.begin(), cells_.end());
    *version = version_;
    return true;
}

bool LatestCells::WriteCommandQueued() const {
    Locked locked(&lock_);
    return writeQueued_;
}
