// Carrying out the link's one decision (LinkPolicy.h) on a session's worker:
// bringing the link to the display up and down, and looking for the display.
// A fault of the device library in any of these counts as that call failing
// (DeviceCalls.h).
#pragma once

#include <cstdint>

struct DriverSession;

// Stores the narrow port name (length bytes) that the open command brought.
// False when it gives no name the library can take (empty, or too long).
bool TakePortName(DriverSession& session, const char* name, int32_t length);

// After every event: asks the decision and carries out what it answers.
// Returns when the next decision is due at the latest (kNeverDue: none).
uint64_t SuperviseLink(DriverSession& session);

// The text before the first ':' of a port name, when there is such a text
// (the ':' not first); else 0. Writes at most size wide characters with the terminator.
int PortNameBeforeColon(const wchar_t* name, wchar_t* prefix, int size);
