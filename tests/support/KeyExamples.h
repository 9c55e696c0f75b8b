// The worked examples of the key naming rules, byte for byte, shared by the
// decoding tests and the tests that press them on the simulated display.
#pragma once

#include <cstdint>

struct NamedExample {
    uint8_t dots, controls, routing;
    const char* name;
    int32_t routingKey;
};

inline const NamedExample kNamedExamples[] = {
    {0x03, 0x40, 0x00, "Space+Dots 1 2", 0},
    {0x00, 0x00, 0x03, "Routing", 3},
    {0x15, 0x00, 0x07, "Dots 1 3 5+Routing", 7},
    {0x00, 0x81, 0x00, "LeftScroll+RightScroll", 0},
    {0x00, 0x02, 0x00, "JoystickAction", 0},
    {0x00, 0x08, 0x00, "qwerty:UpArrow", 0},
    {0x00, 0x18, 0x00, "JoystickUp+JoystickDown", 0},
    {0x00, 0x44, 0x00, "JoystickLeft+Space", 0},
    {0x00, 0x04, 0x05, "JoystickLeft+Routing", 5},
    {0x01, 0x04, 0x00, "JoystickLeft+Dots 1", 0},
    {0xC0, 0x01, 0x00, "LeftScroll+Dots 7 8", 0},
    {0x00, 0xC0, 0x00, "Space+RightScroll", 0},
    {0x00, 0x40, 0x02, "Space+Routing", 2},
    {0x00, 0x04, 0x00, "qwerty:LeftArrow", 0},
    {0x00, 0x10, 0x00, "qwerty:DownArrow", 0},
    {0x00, 0x20, 0x00, "qwerty:RightArrow", 0},
    {0x00, 0x01, 0x00, "LeftScroll", 0},
    {0x00, 0x80, 0x00, "RightScroll", 0},
    {0xFF, 0xFF, 0xFF,
     "LeftScroll+JoystickAction+JoystickLeft+JoystickUp+JoystickDown+JoystickRight+Space+"
     "RightScroll+Dots 1 2 3 4 5 6 7 8+Routing",
     255},
};
