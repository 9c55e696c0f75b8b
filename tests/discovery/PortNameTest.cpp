// The narrow port name written from the chosen DeviceID.
#include <cstring>

#include <gtest/gtest.h>

#include "PortName.h"
#include "TestSupport.h"

namespace {

using PortField = char[qorn::kDiscoveredPortSize];

// A 30-byte field right before a page that faults on access.
PortField& GuardedField(GuardedBuffer& buffer) {
    return *reinterpret_cast<PortField*>(buffer.data());
}

TEST(PortName, ReplacesAnEarlierNameWhole) {
    GuardedBuffer buffer(sizeof(PortField));
    PortField& field = GuardedField(buffer);
    memset(field, 'x', sizeof field);
    ASSERT_TRUE(StorePortName(L"COM12", field));
    ASSERT_TRUE(StorePortName(L"COM5", field));
    PortField expected = "COM5";
    EXPECT_EQ(memcmp(field, expected, sizeof field), 0) << "nothing of COM12 may remain";
}

TEST(PortName, TwentyNineCharactersFitThirtyDoNot) {
    GuardedBuffer buffer(sizeof(PortField));
    PortField& field = GuardedField(buffer);
    const std::wstring longest(29, L'C');
    ASSERT_TRUE(StorePortName(longest, field));
    EXPECT_EQ(std::string(field), std::string(29, 'C'));

    ASSERT_TRUE(StorePortName(L"COM7", field));
    EXPECT_FALSE(StorePortName(std::wstring(30, L'C'), field));
    EXPECT_FALSE(StorePortName(std::wstring(1000, L'C'), field));
    EXPECT_STREQ(field, "COM7") << "a name that does not fit leaves the field as it was";
}

} // namespace
