#include "ScreenReaderHost.h"

#include <algorithm>
#include <cstring>

namespace {
using GetBrailleInterfaceFn = IBrailleDriver* (*)(IBrailleDriver**);

struct BrailleLetter {
    char character;
    uint8_t dots;
};

// bit n = dot n+1
constexpr BrailleLetter kBrailleTable[] = {
    {'a', 0x01}, {'b', 0x03}, {'c', 0x09},  {'d', 0x19}, {'e', 0x11}, {'f', 0x0B}, {'g', 0x1B},
    {'h', 0x13}, {'i', 0x0A}, {'j', 0x1A},  {'k', 0x05}, {'l', 0x07}, {'m', 0x0D}, {'n', 0x1D},
    {'o', 0x15}, {'p', 0x0F}, {'q', 0x1F},  {'r', 0x17}, {'s', 0x0E}, {'t', 0x1E}, {'u', 0x25},
    {'v', 0x27}, {'w', 0x3A}, {'x', 0x2D},  {'y', 0x3D}, {'z', 0x35}, {',', 0x02}, {'.', 0x32},
    {'!', 0x16}, {'?', 0x26}, {'\'', 0x04}, {'-', 0x24},
};
} // namespace

ScreenReaderHost::~ScreenReaderHost() {
    Unload();
}

bool ScreenReaderHost::Load(const char* path) {
    module_ = LoadLibraryA(path);
    if (module_ == nullptr)
        return false;
    auto get = reinterpret_cast<GetBrailleInterfaceFn>(
        reinterpret_cast<void*>(GetProcAddress(module_, "GetBrailleInterface")));
    if (get == nullptr)
        return false;
    get(&driver_);
    return driver_ != nullptr;
}

void ScreenReaderHost::Unload() {
    if (module_ != nullptr)
        FreeLibrary(module_);
    module_ = nullptr;
    driver_ = nullptr;
}

void ScreenReaderHost::Pump(DWORD milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

bool ScreenReaderHost::PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    return ServeMessagesUntil(condition, timeoutMs);
}

bool ServeMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            return false;
        const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10));
        MsgWaitForMultipleObjects(0, nullptr, FALSE, slice, QS_ALLINPUT);
    }
}

void ScreenReaderHost::ClearRecords() {
    keys.clear();
    typed.clear();
    dotsAsked.clear();
}

int32_t ScreenReaderHost::KeyPressed(IBrailleDriver* driver, const char* keyName,
                                     int32_t routingKey) {
    if (driver != driver_)
        wrongDriverSeen = true;
    keys.push_back({keyName != nullptr ? keyName : "(null)", routingKey, GetCurrentThreadId()});
    if (onKeyPressed)
        onKeyPressed(keyName);
    return keyPressedResult;
}

int32_t ScreenReaderHost::CharacterTyped(IBrailleDriver* driver, const char* record,
                                         int32_t length) {
    if (driver != driver_)
        wrongDriverSeen = true;
    TypedRecord typedRecord{};
    if (record != nullptr)
        memcpy(typedRecord.bytes, record, sizeof typedRecord.bytes);
    typedRecord.length = length;
    typedRecord.threadId = GetCurrentThreadId();
    typed.push_back(typedRecord);
    return 1;
}

wchar_t ScreenReaderHost::DotsToCharacter(IBrailleDriver* driver, int32_t dotKeys) {
    if (driver != driver_)
        wrongDriverSeen = true;
    dotsAsked.push_back(dotKeys);
    return dotsToCharacter ? dotsToCharacter(dotKeys) : 0;
}

wchar_t ScreenReaderHost::HostBrailleCharacter(int32_t dots) {
    for (const BrailleLetter& letter : kBrailleTable) {
        if (letter.dots == dots)
            return static_cast<wchar_t>(letter.character);
    }
    return 0;
}

uint8_t ScreenReaderHost::BrailleCell(char character) {
    if (character >= 'A' && character <= 'Z')
        character = static_cast<char>(character - 'A' + 'a');
    for (const BrailleLetter& letter : kBrailleTable) {
        if (letter.character == character)
            return letter.dots;
    }
    return 0;
}
