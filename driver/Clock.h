// Milliseconds of a monotonic clock with sub-millisecond resolution, for the
// driver's own timing (how long the host has been silent). GetTickCount64
// moves in steps of about 16 ms, too coarse for a wait that ends on time.
#pragma once

#include <cstdint>

uint64_t MonotonicMs();
