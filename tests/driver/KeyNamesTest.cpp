// Key names and typed text, decided from the three bytes of a key event.
#include <gtest/gtest.h>

#include "KeyExamples.h"
#include "KeyNames.h"

namespace {

KeyAction Decode(uint8_t dots, uint8_t controls, uint8_t routing) {
    return DecodeKeyEvent(KeyEvent{dots, controls, routing});
}

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
    EXPECT_EQ(Decode(0, kJoystickRight | kJoystickUp, 0).name, "JoystickUp+JoystickRight");
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
