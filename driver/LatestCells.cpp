#include "LatestCells.h"

#include "ScopedLock.h"

bool LatestCells::Replace(const uint8_t* cells, int32_t count) {
    ScopedLock locked(&lock_);
    try {
        cells_.assign(cells, cells + count); // keeps its capacity: no allocation once grown
    } catch (...) {
        return false;
    }
    ++version_;
    return true;
}

bool LatestCells::CopyOut(std::vector<uint8_t>* cells, uint64_t* version) const {
    ScopedLock locked(&lock_);
    if (version_ == 0)
        return false;
    cells->assign(cells_.begin(), cells_.end());
    *version = version_;
    return true;
}
