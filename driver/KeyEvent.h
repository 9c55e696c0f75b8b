// One key event of the display: every key of one combination, three bytes.
#pragma once

#include <cstdint>

struct KeyEvent {
    uint8_t dotKeys;     // bit n: dot key n+1
    uint8_t controlKeys; // ControlKey bits
    uint8_t routingKey;  // routing key number, 0 for none
};
static_assert(sizeof(KeyEvent) == 3, "the device library hands out three bytes");

enum ControlKey : uint8_t {
    kLeftScroll = 0x01,
    kJoystickAction = 0x02,
    kJoystickLeft = 0x04,
    kJoystickUp = 0x08,
    kJoystickDown = 0x10,
    kJoystickRight = 0x20,
    kSpace = 0x40,
    kRightScroll = 0x80,
};
