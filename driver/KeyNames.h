// What one key event means to the screen reader: a key name, a typed chord of
// dots, a typed space, or nothing.
#pragma once

#include <cstdint>
#include <string>

#include "KeyEvent.h"

struct KeyAction {
    enum Kind { kNothing, kKeyName, kTypeDots, kTypeSpace };
    Kind kind = kNothing;
    std::string name;       // for kKeyName
    int32_t routingKey = 0; // for kKeyName: the routing byte, 0 for none
    uint8_t dotKeys = 0;    // for kTypeDots
};

KeyAction DecodeKeyEvent(const KeyEvent& event);
