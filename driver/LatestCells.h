// The host's latest cells, in one place. Every cell write and clear of the
// host replaces them, refused or not; the worker writes what the place holds
// when its write command runs, and again after every link-up, so the display
// always comes to show the latest cells, never a backlog of older ones.
//
// The lock is held only to copy cells in or out, never across a device call.
#pragma once

#include <cstdint>
#include <vector>

#include <windows.h>

class LatestCells {
public:
    LatestCells() = default;

    // Host side: the host's newest cells replace the place's (all of them,
    // whatever the count). False, with the place unchanged, when there is no
    // memory for them.
    bool Replace(const uint8_t* cells, int32_t count);
    // Worker side: copies the cells out, with their version (1 for the host's
    // first cells, one more for each replacement). False when the host has
    // written nothing yet.
    bool CopyOut(std::vector<uint8_t>* cells, uint64_t* version) const;

private:
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<uint8_t> cells_;
    uint64_t version_ = 0; // 0: the host has written nothing yet
};
