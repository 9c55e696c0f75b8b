// Which serial port belongs to the display, decided from the identities WMI
// lists, one port at a time.
#pragma once

#include <string>

// Copy with the letters a to z upper-cased; every other code unit kept.
std::wstring UpperCaseAscii(const std::wstring& text);

class PortChooser {
public:
    // addressText: the display's address text; empty when no display was found.
    explicit PortChooser(std::wstring addressText);

    // Looks at one listed port. A port whose upper-cased PNP identity carries the
    // address anywhere becomes the choice, replacing an earlier one. Returns true
    // when the address sits where the display's own ports carry it, at index 74
    // of a long identity: that choice is final and the listing can stop.
    bool Offer(const std::wstring& deviceId, const std::wstring& pnpDeviceId);

    // DeviceID of the chosen port, in its own letter case; empty for none.
    const std::wstring& chosen() const { return chosen_; }

private:
    std::wstring address_;
    std::wstring chosen_;
};
