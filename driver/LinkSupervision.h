// Bringing a session's link to the display up and down, on its worker. A
// fault of the device library in any of these counts as that call failing
// (DeviceCalls.h).
#pragma once

#include <cstdint>

struct DriverSession;

// What brought the link up: the open command, or a re-link of any kind.
enum class LinkUpKind { kOpenCommand, kRelink };

// Stores the narrow port name (length bytes) and brings the link up on it.
void OpenLink(DriverSession& session, const char* name, int32_t length);
// Opens the link on the stored port name.
void LinkUp(DriverSession& session, LinkUpKind kind);
// Closes the link if it is up, then LinkUp.
void Relink(DriverSession& session);
// Closes the link (device library close) and clears the link flags.
void CloseLink(DriverSession& session);

// On every tick of the worker: while the host is silent, the worker itself
// re-links a display that may not show the host's latest cells (link down,
// or the latest write failed), once the host has made no output call for
// kSilentRetryAfterMs and at most every kSilentRetryIntervalMs. Only while the
// host wants the link (opened, not suspended) and a port name is known. While
// the host is active, its refused calls alone ask for re-links.
void RetryLinkWhileHostSilent(DriverSession& session);

// The text before the first ':' of a port name, when there is such a text
// (the ':' not first); else 0. Writes at most size wide characters with the terminator.
int PortNameBeforeColon(const wchar_t* name, wchar_t* prefix, int size);
