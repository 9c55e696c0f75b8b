// Key names: control keys in bit order, then the dots, then the routing key.
// A lone joystick direction is an arrow key; dots alone or Space alone are typed.
#include "KeyNames.h"

namespace {

constexpr const char* kControlKeyNames[8] = {
    "LeftScroll",   "JoystickAction", "JoystickLeft", "JoystickUp",
    "JoystickDown", "JoystickRight",  "Space",        "RightScroll",
};

// The whole name of a lone joystick direction (bits 2 to 5), else null.
constexpr const char* kArrowNames[4] = {"qwerty:LeftArrow", "qwerty:UpArrow", "qwerty:DownArrow",
                                        "qwerty:RightArrow"};
const char* ArrowName(uint8_t controlKeys) {
    for (int direction = 0; direction < 4; ++direction) {
        if (controlKeys == (kJoystickLeft << direction))
            return kArrowNames[direction];
    }
    return nullptr;
}

struct NameBuilder {
    std::string name;
    bool first = true;
    bool named = false;      // some element makes this a key name, not typed text
    bool spaceFirst = false; // Space opened the name

    void Append(const char* element) {
        if (!first)
            name += '+';
        name += element;
        first = false;
    }
};

void AppendControlKeys(NameBuilder& b, uint8_t controlKeys) {
    for (int bit = 0; bit < 8; ++bit) {
        if ((controlKeys & (1u << bit)) == 0)
            continue;
        const bool wasFirst = b.first;
        b.Append(kControlKeyNames[bit]);
        if (wasFirst && (1u << bit) == kSpace)
            b.spaceFirst = true;
        else
            b.named = true;
    }
}

void AppendDots(NameBuilder& b, uint8_t dotKeys) {
    if (dotKeys == 0)
        return;
    if (!b.first && b.spaceFirst)
        b.named = true; // Space followed by dots is a command, not a typed space
    b.Append("Dots");
    for (int dot = 0; dot < 8; ++dot) {
        if (dotKeys & (1u << dot)) {
            b.name += ' ';
            b.name += static_cast<char>('1' + dot);
        }
    }
}

KeyAction NameAction(std::string name, int32_t routingKey) {
    KeyAction action;
    action.kind = KeyAction::kKeyName;
    action.name = std::move(name);
    action.routingKey = routingKey;
    return action;
}

} // namespace

KeyAction DecodeKeyEvent(const KeyEvent& event) {
    const uint8_t dots = event.dotKeys;
    const uint8_t controls = event.controlKeys;
    const uint8_t routing = event.routingKey;
    if (dots == 0 && controls == 0 && routing == 0)
        return {};

    NameBuilder b;
    AppendControlKeys(b, controls);
    AppendDots(b, dots);
    if (routing != 0) {
        b.Append("Routing");
        return NameAction(std::move(b.name), routing);
    }
    if (dots == 0) {
        if (const char* arrow = ArrowName(controls))
            return NameAction(arrow, 0);
    }
    if (b.named)
        return NameAction(std::move(b.name), 0);

    KeyAction typed;
    if (dots != 0 && controls == 0) {
        typed.kind = KeyAction::kTypeDots;
        typed.dotKeys = dots;
    } else if (dots == 0 && controls == kSpace) {
        typed.kind = KeyAction::kTypeSpace;
    }
    return typed;
}
