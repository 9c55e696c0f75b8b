// Bounded copies into buffers the caller sized: never a byte outside them.
#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "TextCopy.h"

TEST(TextCopy, CutsToSizeMinusOneAndTerminates) {
    GuardedBuffer buffer(5);
    memset(buffer.data(), 'x', 5);
    EXPECT_EQ(CopyTextToBuffer(buffer.data(), 5, "Lumivo12"), 4);
    EXPECT_STREQ(buffer.data(), "Lumi");
}

TEST(TextCopy, PadsTheRestWithZeros) {
    GuardedBuffer buffer(64);
    memset(buffer.data(), 'x', 64);
    EXPECT_EQ(CopyTextToBuffer(buffer.data(), 64, "Lumivo12"), 8);
    for (int i = 8; i < 64; ++i)
        ASSERT_EQ(buffer.data()[i], 0) << i;
}

TEST(TextCopy, ExactFitLosesTheLastCharacter) {
    GuardedBuffer buffer(8);
    EXPECT_EQ(CopyTextToBuffer(buffer.data(), 8, "Lumivo12"), 7);
    EXPECT_STREQ(buffer.data(), "Lumivo1");
}

TEST(TextCopy, SizeBelowOneOrNullBufferWritesNothing) {
    GuardedBuffer buffer(1);
    buffer.data()[0] = 'x';
    EXPECT_EQ(CopyTextToBuffer(buffer.data() + 1, 0, "Lumivo12"), 0);
    EXPECT_EQ(CopyTextToBuffer(buffer.data() + 1, -1, "Lumivo12"), 0);
    EXPECT_EQ(CopyTextToBuffer(nullptr, 16, "Lumivo12"), 0);
    EXPECT_EQ(buffer.data()[0], 'x');
    EXPECT_EQ(CopyTextToBuffer(buffer.data(), 1, "Lumivo12"), 0);
    EXPECT_EQ(buffer.data()[0], 0);
}

TEST(TextCopy, NullSourceCopiesAsEmpty) {
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(CopyTextToBuffer(buffer, 4, nullptr), 0);
    EXPECT_EQ(memcmp(buffer, "\0\0\0\0", 4), 0);
}

TEST(TextCopy, WholeCopyRefusesWhatDoesNotFit) {
    GuardedBuffer buffer(15);
    memset(buffer.data(), 'x', 15);
    EXPECT_EQ(CopyWholeTextToBuffer(buffer.data(), 15, "Mirel Tactus Co"), 0);
    EXPECT_EQ(buffer.data()[0], 'x');
    GuardedBuffer exact(16);
    EXPECT_EQ(CopyWholeTextToBuffer(exact.data(), 16, "Mirel Tactus Co"), 15);
    EXPECT_STREQ(exact.data(), "Mirel Tactus Co");
}
