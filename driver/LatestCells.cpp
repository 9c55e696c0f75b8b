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
    hasCells_ = true;
    return true;
}

bool LatestCells::ClaimWriteCommand() {
    Locked locked(&lock_);
    if (writeQueued_)
        return false;
    writeQueued_ = true;
    return true;
}

void LatestCells::WriteCommandNotPosted() {
    Locked locked(&lock_);
    writeQueued_ = false;
}

bool LatestCells::CopyOut(std::vector<uint8_t>* cells, int32_t* count, bool takeWriteCommand) {
    Locked locked(&lock_);
    if (takeWriteCommand)
        writeQueued_ = false;
    if (!hasCells_)
        return false;
    cells->assign(cells_.begin(), cells_.end());
    *count = static_cast<int32_t>(cells_.size());
    return true;
}

bool LatestCells::WriteCommandQueued() const {
    Locked locked(&lock_);
    return writeQueued_;
}
