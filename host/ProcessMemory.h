// How much memory this process holds, for leak checks and the benchmark.
#pragma once

#include <cstddef>

// Committed private memory summed over the whole address space. Unlike the
// process counters (which Wine reports as 0) it grows under Wine too.
size_t CommittedPrivateBytes();
