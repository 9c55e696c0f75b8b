// The display's name rule and its address text.
#include <cwchar>

#include <gtest/gtest.h>

#include "DisplayIdentity.h"
#include "TestSupport.h"

namespace {

bool IsDisplay(const wchar_t* name) {
    return IsDisplayName(name, 248);
}

TEST(DisplayName, NeedsTheExactPrefixAndSomethingAfterIt) {
    EXPECT_TRUE(IsDisplay(L"ZR47-0001"));
    EXPECT_TRUE(IsDisplay(L"ZR47-X"));
    EXPECT_FALSE(IsDisplay(L"ZR47-")) << "the prefix alone is not a display";
    EXPECT_FALSE(IsDisplay(L"zr47-0001")) << "letter case matters";
    EXPECT_FALSE(IsDisplay(L"Zr47-0001"));
    EXPECT_FALSE(IsDisplay(L"ZR47_0001"));
    EXPECT_FALSE(IsDisplay(L" ZR47-0001"));
    EXPECT_FALSE(IsDisplay(L"ZR4"));
    EXPECT_FALSE(IsDisplay(L""));
    EXPECT_FALSE(IsDisplay(nullptr));
}

TEST(DisplayName, IsReadNoFurtherThanItsRecord) {
    // A name that fills its record has no terminator: reading on would fault.
    constexpr size_t kChars = 248;
    GuardedBuffer buffer(kChars * sizeof(wchar_t));
    auto* name = reinterpret_cast<wchar_t*>(buffer.data());
    wmemset(name, L'7', kChars);
    wmemcpy(name, L"ZR47-", 5);
    EXPECT_TRUE(IsDisplayName(name, kChars));
    name[4] = L'+';
    EXPECT_FALSE(IsDisplayName(name, kChars));
}

TEST(AddressText, MostSignificantByteFirstInUpperCaseHex) {
    const uint8_t address[6] = {0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(AddressText(address), L"123456789ABC");
    const uint8_t letters[6] = {0xef, 0xcd, 0xab, 0xfa, 0xde, 0xad};
    EXPECT_EQ(AddressText(letters), L"ADDEFAABCDEF");
}

TEST(AddressText, SmallBytesKeepTheirLeadingZero) {
    const uint8_t address[6] = {0x4E, 0x3D, 0x2C, 0x1B, 0x0A, 0x00};
    EXPECT_EQ(AddressText(address), L"000A1B2C3D4E");
    const uint8_t zero[6] = {};
    EXPECT_EQ(AddressText(zero), L"000000000000");
}

} // namespace
