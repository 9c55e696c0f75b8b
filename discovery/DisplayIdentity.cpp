#include "DisplayIdentity.h"

#include <cwchar>

#include "Parameters.h"

namespace {
constexpr wchar_t kDisplayNamePrefix[] = L"ZR47-";
static_assert(sizeof kDisplayNamePrefix / sizeof(wchar_t) - 1 == qorn::kDisplayNamePrefixChars,
              "prefix length and its named limit agree");
} // namespace

bool IsDisplayName(const wchar_t* name, size_t maxChars) {
    if (name == nullptr)
        return false;
    const size_t length = wcsnlen(name, maxChars);
    return length > static_cast<size_t>(qorn::kDisplayNamePrefixChars) &&
           wcsncmp(name, kDisplayNamePrefix, qorn::kDisplayNamePrefixChars) == 0;
}

std::wstring AddressText(const uint8_t (&bytes)[6]) {
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(qorn::kAddressTextChars);
    for (int i = 5; i >= 0; --i) {
        text.push_back(kDigits[bytes[i] >> 4]);
        text.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}
