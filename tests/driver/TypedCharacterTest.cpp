// The typed-character record and the conversion of the host's character.
#include <gtest/gtest.h>

#include "TypedCharacter.h"

TEST(TypedCharacter, RecordMixesTheCharacterWithTheLowTickBytes) {
    const TypedCharRecord a = MakeTypedCharRecord(0x12342345, 'a');
    EXPECT_EQ(a.bytes[0], 0x45);
    EXPECT_EQ(a.bytes[1], 0x07);
    EXPECT_EQ(a.bytes[2], 0x23);
    EXPECT_EQ(a.bytes[3], 0x00);
    const TypedCharRecord space = MakeTypedCharRecord(0x2345, kSpaceCharacter);
    EXPECT_EQ(space.bytes[0], 0x45);
    EXPECT_EQ(space.bytes[1], 0x46);
    EXPECT_EQ(space.bytes[2], 0x23);
}

TEST(TypedCharacter, EveryRecordGivesItsCharacterBack) {
    for (DWORD tick : {0u, 0xFFu, 0x1234u, 0xFFFFu, 0xDEADBEEFu, 0xFFFFFFFFu}) {
        for (int ch = 0; ch < 256; ++ch) {
            const TypedCharRecord r = MakeTypedCharRecord(tick, static_cast<uint8_t>(ch));
            ASSERT_EQ(r.bytes[0] ^ r.bytes[1] ^ r.bytes[2], ch);
            ASSERT_EQ(r.bytes[0], tick & 0xFF);
            ASSERT_EQ(r.bytes[2], (tick >> 8) & 0xFF);
        }
    }
}

TEST(TypedCharacter, OnlyTheLowSixteenTickBitsMatter) {
    const TypedCharRecord a = MakeTypedCharRecord(0x00011234, 'x');
    const TypedCharRecord b = MakeTypedCharRecord(0xABCD1234, 'x');
    const TypedCharRecord c = MakeTypedCharRecord(0x00011235, 'x');
    EXPECT_EQ(0, memcmp(a.bytes, b.bytes, 4));
    EXPECT_NE(0, memcmp(a.bytes, c.bytes, 4));
}

TEST(TypedCharacter, AsciiConvertsToItself) {
    uint8_t byte = 0;
    ASSERT_TRUE(FirstAnsiByte(L'a', &byte));
    EXPECT_EQ(byte, 'a');
    ASSERT_TRUE(FirstAnsiByte(L' ', &byte));
    EXPECT_EQ(byte, ' ');
}

TEST(TypedCharacter, CharacterOutsideTheCodePageStillGivesOneByte) {
    uint8_t byte = 0;
    ASSERT_TRUE(FirstAnsiByte(0x4E2D, &byte)); // a CJK ideograph: default character
    EXPECT_NE(byte, 0);
}
