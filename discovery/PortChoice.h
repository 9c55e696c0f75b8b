// Which serial port belongs to the display, decided from the identities the
// device records or WMI list, one port at a time.
#pragma once

#include <string>

// Copy with the letters a to z upper-cased; every other code unit kept.
std::wstring UpperCaseAscii(const std::wstring& text);

// The same port name in another letter case (a to z only); an empty name
// names no port.
bool IsSamePortName(const std::wstring& first, const std::wstring& second);

class PortChooser {
public:
    // addressText: the display's address text; empty when no display was found.
    explicit PortChooser(std::wstring addressText);

    // Looks at one listed port: its name (WMI's DeviceID, the records' PortName)
    // and its PNP identity (the device instance ID). A port whose identity
    // names the display (Names) becomes the choice, replacing an earlier one
    // unless that was final. Returns true when the address sits where the
    // display's own ports carry it, at index 74 of a long identity: that
    // choice is final and the listing can stop.
    bool Offer(const std::wstring& deviceId, const std::wstring& pnpDeviceId);

    // The upper-cased identity carries the address anywhere. An empty address,
    // or the twelve zeros that every incoming Bluetooth port carries, never matches.
    bool Names(const std::wstring& pnpDeviceId) const;

    // Name of the chosen port, in its own letter case; empty for none.
    const std::wstring& chosen() const { return chosen_; }

private:
    std::wstring address_;
    std::wstring chosen_;
    bool final_ = false;
};
