// Finding the display again while its link stays down. A display removed and
// paired again gets a new serial port from Windows, and one paired after
// Open("AUTO") found nothing has no port at all: either way the port the
// worker tries is not among the system's serial ports. So when the link has
// not come up in kSearchAfterFailures attempts in a row over at least
// kSearchAfterMs, and the device records do not list the port tried, the
// worker has the display looked for on a thread of its own (the Bluetooth
// list and the device records only, never WMI, which may open ports), at most
// once every kSearchIntervalMs. A port found other than the one tried is used
// from then on. While a port of that name exists the display is only off or
// out of range, and the port is kept.
#pragma once

struct DriverSession;

// Worker side: the outcome of every attempt to bring the link up (none is
// made on an empty port name, which counts as one failed attempt).
void NoteLinkUpAttempt(DriverSession& session, bool linked);
// On every tick: starts a search when one is due, takes the answer of one
// under way, or lets go of it past the driver's usual bound for a search.
void LookForTheDisplay(DriverSession& session);
// As the worker ends: lets go of a search under way.
void LetGoOfSearch(DriverSession& session);
