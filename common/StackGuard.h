// The runtime of the stack canaries (-fstack-protector-strong) for our own
// binaries, in place of GCC's libssp. libssp seeds the canary in a constructor
// from CryptGenRandom: in the driver that constructor runs inside DllMain,
// under the loader lock of the screen reader's process, and loads further
// libraries there (and it makes both deliverables import advapi32). This one
// seeds the canary the way Windows' own compiler runtime seeds its security
// cookie, from kernel32 alone, before any other constructor of the binary.
// A canary found overwritten, or a checked copy that would overflow
// (_FORTIFY_SOURCE), ends the process at once: its memory can no longer be
// trusted, and no exception handler may carry on.
#pragma once

#include <cstdint>

namespace qorn {

// What the canary holds until it is seeded.
constexpr uintptr_t kUnseededStackGuard = 0x2B992DDFA232ULL;

// The canary now in force.
uintptr_t CurrentStackGuard();

} // namespace qorn
