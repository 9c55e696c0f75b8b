#include "TypedCharacter.h"

#include "SampleDriver.h"

namespace {
constexpr int kAnsiBytes = 3;
constexpr int32_t kTypedRecordLength = 3;
} // namespace

TypedCharRecord MakeTypedCharRecord(DWORD tickCount, uint8_t character) {
    TypedCharRecord record{};
    record.bytes[0] = static_cast<uint8_t>(tickCount & 0xFF);
    record.bytes[2] = static_cast<uint8_t>((tickCount >> 8) & 0xFF);
    record.bytes[1] = static_cast<uint8_t>(record.bytes[0] ^ record.bytes[2] ^ character);
    return record;
}

bool FirstAnsiByte(wchar_t character, uint8_t* firstByte) {
    const wchar_t text[2] = {character, L'\0'};
    char converted[kAnsiBytes] = {};
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, converted, kAnsiBytes, nullptr, nullptr) <= 0)
        return false;
    *firstByte = static_cast<uint8_t>(converted[0]);
    return true;
}

void CBrailleSampleDriver::TypeDots(uint8_t dotKeys) {
    IBrailleHostCallback* host = m_pHostCallback;
    if (dotKeys == 0 || host == nullptr)
        return;
    const wchar_t character = host->DotsToCharacter(this, dotKeys);
    uint8_t ansi = 0;
    if (character == 0 || !FirstAnsiByte(character, &ansi))
        return;
    TypeCharacter(ansi);
}

int32_t CBrailleSampleDriver::TypeCharacter(uint8_t character) {
    IBrailleHostCallback* host = m_pHostCallback;
    if (host == nullptr)
        return 0;
    const TypedCharRecord record = MakeTypedCharRecord(GetTickCount(), character);
    return host->CharacterTyped(this, reinterpret_cast<const char*>(record.bytes),
                                kTypedRecordLength);
}
