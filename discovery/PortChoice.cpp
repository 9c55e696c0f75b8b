#include "PortChoice.h"

#include <utility>

#include "Parameters.h"

namespace {
// What an incoming Bluetooth serial port carries where an outgoing one has the
// remote device's address.
constexpr wchar_t kIncomingPortAddress[] = L"000000000000";
} // namespace

std::wstring UpperCaseAscii(const std::wstring& text) {
    std::wstring upper(text);
    for (wchar_t& c : upper) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return upper;
}

bool IsSamePortName(const std::wstring& first, const std::wstring& second) {
    return !first.empty() && UpperCaseAscii(first) == UpperCaseAscii(second);
}

PortChooser::PortChooser(std::wstring addressText) : address_(std::move(addressText)) {}

bool PortChooser::Names(const std::wstring& pnpDeviceId) const {
    // Without a display every identity would "contain" the empty address, and an
    // unrelated port must never be taken for the display's; nor may a port that
    // waits for any device to call in.
    return !address_.empty() && address_ != kIncomingPortAddress &&
           UpperCaseAscii(pnpDeviceId).find(address_) != std::wstring::npos;
}

bool PortChooser::Offer(const std::wstring& deviceId, const std::wstring& pnpDeviceId) {
    if (final_ || !Names(pnpDeviceId))
        return final_;
    chosen_ = deviceId;
    const std::wstring pnp = UpperCaseAscii(pnpDeviceId);
    final_ = pnp.size() >= static_cast<size_t>(qorn::kPnpMinLengthForIndexMatch) &&
             pnp.compare(qorn::kPnpAddressIndex, address_.size(), address_) == 0;
    return final_;
}
