// The screen reader's callback object, handed to the driver by Open and
// SetHostCallback. The host implements it; the driver only calls it.
#pragma once

#include <cstdint>

class IBrailleDriver;

class IBrailleHostCallback {
public:
    // Slot 0: a key name and the routing key number (0 when none).
    virtual int32_t KeyPressed(IBrailleDriver* driver, const char* keyName, int32_t routingKey) = 0;
    // Slot 1: a three-byte typed-character record (followed by a zero byte) and its length 3.
    virtual int32_t CharacterTyped(IBrailleDriver* driver, const char* record, int32_t length) = 0;
    // Slot 2: the UTF-16 character of a dot chord (bit n = dot n+1), or 0.
    virtual wchar_t DotsToCharacter(IBrailleDriver* driver, int32_t dotKeys) = 0;
};
