// Key names and typed text, decided from the three bytes of a key event.
#include <gtest/gtest.h>

#include "KeyNames.h"

namespace {

KeyAction Decode(uint8_t dots, uint8_t controls, uint8_t routing) {
    return DecodeKeyEvent(KeyEvent{dots, controls, routing});
}

struct NamedExample {
    uint8_t dots, controls, routing;
    const char* name;
    int32_t routingKey;
};

// The worked examples of the key naming rules, byte for byte.
const NamedExample kNamedExamples[] = {
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

} // namespace

TEST(KeyNames, WorkedExamplesComeOutExactly) {
    for (const NamedExample& e : kNamedExamples) {
        const KeyAction action = Decode(e.dots, e.controls, e.routing);
        SCOPED_TRACE(e.name);
        ASSERT_EQ(action.kind, KeyAction::kKeyName);
        EXPECT_EQ(action.name, e.name);
        EXPECT_EQ(action.routingKey, e.routingKey);
    }
}

TEST(KeyNames, LongestNameHas123Characters) {
    EXPECT_EQ(Decode(0xFF, 0xFF, 0xFF).name.size(), 123u);
}

TEST(KeyNames, DotsAloneAreTypedNotNamed) {
    for (int dots = 1; dots < 256; ++dots) {
        const KeyAction action = Decode(static_cast<uint8_t>(dots), 0, 0);
        ASSERT_EQ(action.kind, KeyAction::kTypeDots) << dots;
        EXPECT_EQ(action.dotKeys, dots);
    }
}

TEST(KeyNames, SpaceAloneIsATypedSpace) {
    EXPECT_EQ(Decode(0, kSpace, 0).kind, KeyAction::kTypeSpace);
}

TEST(KeyNames, NoKeysMeansNothing) {
    EXPECT_EQ(Decode(0, 0, 0).kind, KeyAction::kNothing);
}

TEST(KeyNames, LoneDirectionWithAnythingElseKeepsItsOrdinaryName) {
    EXPECT_EQ(Decode(0, kJoystickRight | kSpace, 0).name, "JoystickRight+Space");
    EXPECT_EQ(Decode(0, kJoystickRight | kJoystickUp, 0).name,
              "JoystickUp+JoystickRight");
    EXPECT_EQ(Decode(0x80, kJoystickDown, 0).name, "JoystickDown+Dots 8");
    EXPECT_EQ(Decode(0, kJoystickUp, 12).name, "JoystickUp+Routing");
}

TEST(KeyNames, RoutingNumberPassesThroughUnchanged) {
    for (int routing = 1; routing < 256; ++routing) {
        const KeyAction action = Decode(0, 0, static_cast<uint8_t>(routing));
        ASSERT_EQ(action.name, "Routing");
        ASSERT_EQ(action.routingKey, routing);
    }
}

TEST(KeyNames, NoNameStartsWithPlusOrCarriesPlusBeforeLeftScroll) {
    for (int controls = 0; controls < 256; ++controls) {
        for (int dots : {0, 1, 0x81}) {
            const KeyAction action =
                Decode(static_cast<uint8_t>(dots), static_cast<uint8_t>(controls), 9);
            ASSERT_EQ(action.kind, KeyAction::kKeyName);
            ASSERT_NE(action.name.front(), '+');
            ASSERT_EQ(action.name.find("+LeftScroll"), std::string::npos);
            ASSERT_EQ(action.name.compare(action.name.size() - 7, 7, "Routing"), 0);
        }
    }
}
