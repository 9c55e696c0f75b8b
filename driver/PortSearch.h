// Looking for the display while its link stays down. A display removed and
// paired again gets a new serial port from Windows, its old port name may now
// be another device's, and one paired after Open("AUTO") found nothing has no
// port at all: so the link's decision (LinkPolicy.h) has the worker look for
// it in the device records (the Bluetooth list and the records only, never
// WMI, which may open ports) on a thread of its own. The answer says whether
// the display's own record names another port than the one tried: the port
// is replaced then, and kept otherwise (the display is only off or away).
#pragma once

#include <cstdint>

#include <windows.h>

struct DriverSession;

// Starts a records-only search; a search that cannot start answers nothing new.
void StartSearch(DriverSession& session);
// The thread of the search under way, or null; and when its bound runs out.
HANDLE SearchUnderWay(const DriverSession& session);
uint64_t SearchBoundMs(const DriverSession& session);
// Once the search under way has ended or its bound has run out: its answer,
// as an event of the link's decision.
void TakeSearchAnswerOnceDone(DriverSession& session);
// The port the answer named becomes the session's.
void TakeFoundPort(DriverSession& session);
// As the worker ends: lets go of a search under way.
void LetGoOfSearch(DriverSession& session);
