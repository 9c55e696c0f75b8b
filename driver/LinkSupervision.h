// Bringing the link to the display up and down, on the worker thread.
#pragma once

#include <cstdint>

class CBrailleSampleDriver;

// Stores the narrow port name (length bytes) and brings the link up on it.
void OpenLink(CBrailleSampleDriver* driver, const char* name, int32_t length);
// Opens the link on the stored port name.
void LinkUp(CBrailleSampleDriver* driver);
// Closes the link if it is up, then LinkUp.
void Relink(CBrailleSampleDriver* driver);
// Closes the link (device library close) and clears the link flags.
void CloseLink(CBrailleSampleDriver* driver);

// The text before the first ':' of a port name, when there is such a text
// (the ':' not first); else 0. Writes at most size wide characters with the terminator.
int PortNameBeforeColon(const wchar_t* name, wchar_t* prefix, int size);
