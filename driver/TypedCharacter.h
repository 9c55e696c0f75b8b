// The record in which a typed character travels to the screen reader: the
// character mixed with the low 16 bits of the tick count.
#pragma once

#include <cstdint>

#include <windows.h>

constexpr uint8_t kSpaceCharacter = 32;

struct TypedCharRecord {
    uint8_t bytes[4]; // three record bytes and a zero byte
};

TypedCharRecord MakeTypedCharRecord(DWORD tickCount, uint8_t character);

// The first ANSI byte of a UTF-16 character, converted with the system's rules
// (terminator included, at most three bytes). Returns false when it does not convert.
bool FirstAnsiByte(wchar_t character, uint8_t* firstByte);
