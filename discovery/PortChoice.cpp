#include "PortChoice.h"

#include <utility>

#include "Parameters.h"

std::wstring UpperCaseAscii(const std::wstring& text) {
    std::wstring upper(text);
    for (wchar_t& c : upper) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return upper;
}

PortChooser::PortChooser(std::wstring addressText) : address_(std::move(addressText)) {}

bool PortChooser::Offer(const std::wstring& deviceId, const std::wstring& pnpDeviceId) {
    // Without a display every identity would "contain" the empty address, and an
    // unrelated port must never be taken for the display's.
    if (address_.empty())
        return false;
    const std::wstring pnp = UpperCaseAscii(pnpDeviceId);
    if (pnp.find(address_) == std::wstring::npos)
        return false;
    chosen_ = deviceId;
    return pnp.size() >= static_cast<size_t>(qorn::kPnpMinLengthForIndexMatch) &&
           pnp.compare(qorn::kPnpAddressIndex, address_.size(), address_) == 0;
}
