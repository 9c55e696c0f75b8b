// Choosing the display's port among the identities WMI lists.
#include <gtest/gtest.h>

#include "PortChoice.h"
#include "PortRecords.h"

namespace {

const std::wstring kAddress = L"123456789ABC";

// A PNP identity of the given length with text placed at index.
std::wstring Identity(size_t length, size_t index, const std::wstring& text) {
    std::wstring id(length, L'X');
    id.replace(index, text.size(), text);
    return id;
}

// How Windows names the serial port of a paired device: the address at 74.
std::wstring DisplayPortIdentity(const std::wstring& address) {
    return BluetoothPortId(address);
}

TEST(UpperCaseAscii, ChangesOnlyTheLettersAToZ) {
    EXPECT_EQ(UpperCaseAscii(L"com5 \\ab&z{}"), L"COM5 \\AB&Z{}");
    EXPECT_EQ(UpperCaseAscii(L"\u00e4\u00df\u00ff\u0133"), L"\u00e4\u00df\u00ff\u0133");
    EXPECT_EQ(UpperCaseAscii(L""), L"");
}

TEST(PortChooser, TheWindowsIdentityPutsTheAddressAtIndex74AndEndsTheListing) {
    const std::wstring id = DisplayPortIdentity(kAddress);
    ASSERT_EQ(id.find(kAddress), 74u);
    PortChooser chooser(kAddress);
    EXPECT_TRUE(chooser.Offer(L"COM12", id));
    EXPECT_EQ(chooser.chosen(), L"COM12");
}

TEST(PortChooser, AddressAnywhereIsChosenButOnlyIndex74OfALongIdentityIsFinal) {
    struct Case {
        size_t length;
        size_t index;
        bool final;
    } cases[] = {
        {20, 3, false},  // short identity, address inside
        {87, 74, false}, // at 74, but the identity is not longer than 87
        {88, 74, true},  {200, 74, true}, {100, 73, false}, {100, 75, false}, {100, 0, false},
    };
    for (const Case& c : cases) {
        PortChooser chooser(kAddress);
        EXPECT_EQ(chooser.Offer(L"COM3", Identity(c.length, c.index, kAddress)), c.final)
            << c.length << " " << c.index;
        EXPECT_EQ(chooser.chosen(), L"COM3") << c.length << " " << c.index;
    }
}

TEST(PortChooser, LowerCaseAddressInTheIdentityMatchesAndDeviceIdKeepsItsCase) {
    PortChooser chooser(kAddress);
    EXPECT_TRUE(chooser.Offer(L"cOm7", DisplayPortIdentity(L"123456789abc")));
    EXPECT_EQ(chooser.chosen(), L"cOm7");
}

TEST(PortChooser, LaterPortWinsUnlessAnEarlierOneWasFinal) {
    PortChooser later(kAddress);
    EXPECT_FALSE(later.Offer(L"COM3", Identity(40, 10, kAddress)));
    EXPECT_FALSE(later.Offer(L"COM4", L"OTHER"));
    EXPECT_FALSE(later.Offer(L"COM5", Identity(90, 2, kAddress)));
    EXPECT_EQ(later.chosen(), L"COM5");

    PortChooser firstFinal(kAddress);
    EXPECT_FALSE(firstFinal.Offer(L"COM3", Identity(40, 10, kAddress)));
    EXPECT_TRUE(firstFinal.Offer(L"COM8", DisplayPortIdentity(kAddress)));
    EXPECT_EQ(firstFinal.chosen(), L"COM8");
}

TEST(PortChooser, NoPortCarryingTheAddressChoosesNothing) {
    PortChooser chooser(kAddress);
    EXPECT_FALSE(chooser.Offer(L"COM1", DisplayPortIdentity(L"123456789ABD")));
    EXPECT_FALSE(chooser.Offer(L"COM2", L"ACPI\\PNP0501\\1"));
    EXPECT_FALSE(chooser.Offer(L"COM3", L""));
    EXPECT_EQ(chooser.chosen(), L"");
}

TEST(PortChooser, WithoutADisplayAddressNoPortIsEverTaken) {
    // Every identity contains the empty text; none of them is the display's.
    // Nor is an incoming port, whose identity carries twelve zeros.
    for (const wchar_t* address : {L"", L"000000000000"}) {
        PortChooser chooser(address);
        EXPECT_FALSE(chooser.Offer(L"COM1", L"ACPI\\PNP0501\\1"));
        EXPECT_FALSE(chooser.Offer(L"COM9", DisplayPortIdentity(kAddress)));
        EXPECT_FALSE(chooser.Offer(L"COM4", DisplayPortIdentity(L"000000000000")));
        EXPECT_EQ(chooser.chosen(), L"");
    }
}

TEST(IsSamePortName, IgnoresTheCaseOfTheLettersAToZOnly) {
    EXPECT_TRUE(IsSamePortName(L"COM12", L"com12"));
    EXPECT_TRUE(IsSamePortName(L"cOm1", L"CoM1"));
    EXPECT_FALSE(IsSamePortName(L"COM1", L"COM12"));
    EXPECT_FALSE(IsSamePortName(L"COM\u00e4", L"COM\u00c4"));
    EXPECT_FALSE(IsSamePortName(L"", L""));
}

} // namespace
