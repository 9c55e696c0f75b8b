// Carrying out the link's one decision (LinkPolicy.h) on a session's worker:
// bringing the link to the display up and down, and looking for the display.
// A fault of the device library in any of these counts as that call failing
// (DeviceCalls.h).
//
// A display removed and paired again gets a new serial port from Windows, its
// old port name may by then be another device's, and one paired after
// Open("AUTO") found nothing has no port at all: so the decision has the
// worker look for it in the device records on a thread of its own (after
// failed link-ups, a device-change broadcast, a resume). The answer
// says whether a record of the display names the port in use (then it is kept:
// the display is only off or away) and which other port the display's record
// names (taken by the next link-up otherwise).
#pragma once

#include <cstdint>

#include "LinkPolicy.h"

struct DriverSession;

// Stores the narrow port name (length bytes) that the open command brought.
// False when it gives no name the library can take (empty, or too long).
bool TakePortName(DriverSession& session, const char* name, int32_t length);

// After every event (kTick: the time passing): asks the decision and carries
// out what it answers. Returns when the next decision is due at the latest
// (kNeverDue: none).
uint64_t SuperviseLink(DriverSession& session, LinkEvent event);

// The text before the first ':' of a port name, when there is such a text
// (the ':' not first); else 0. Writes at most size wide characters with the terminator.
int PortNameBeforeColon(const wchar_t* name, wchar_t* prefix, int size);

// Once the search under way has ended or its bound has run out: its answer,
// as an event of the link's decision. A port other than the one in use that
// the display's record names becomes the session's when the decision acts on it.
void TakeSearchAnswerOnceDone(DriverSession& session);
// As the worker ends: lets go of a search under way.
void LetGoOfSearch(DriverSession& session);
