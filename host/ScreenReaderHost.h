// A stand-in for the screen reader: loads QornDriver.jlb the way the host does,
// gets the driver through its export, implements the callback interface
// (recording every call) and serves its thread's messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include "BrailleDriver.h"
#include "BrailleHostCallback.h"

struct KeyPressRecord {
    std::string name;
    int32_t routingKey;
    DWORD threadId;
};

struct TypedRecord {
    uint8_t bytes[4]; // the three record bytes and the byte after them
    int32_t length;
    DWORD threadId;
    uint8_t Character() const { return bytes[0] ^ bytes[1] ^ bytes[2]; }
};

// Serves this thread's messages until done() holds or the time is up.
bool ServeMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);

class ScreenReaderHost : public IBrailleHostCallback {
public:
    ScreenReaderHost() = default;
    ~ScreenReaderHost();
    ScreenReaderHost(const ScreenReaderHost&) = delete;
    ScreenReaderHost& operator=(const ScreenReaderHost&) = delete;

    // LoadLibraryA of the driver and its export; false if either fails.
    bool Load(const char* path = "QornDriver.jlb");
    // FreeLibrary: runs the driver's unload step.
    void Unload();
    HMODULE Module() const { return module_; }
    IBrailleDriver* Driver() const { return driver_; }

    // Serves this thread's messages for the given time.
    void Pump(DWORD milliseconds);
    // Serves messages until the condition holds or the time is up.
    bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs);

    // ---- What the driver told the host ----
    std::vector<KeyPressRecord> keys;
    std::vector<TypedRecord> typed;
    std::vector<int32_t> dotsAsked;
    void ClearRecords();

    // ---- How the host answers ----
    int32_t keyPressedResult = 1;
    // The host's braille table; null answers every chord with 0.
    std::function<wchar_t(int32_t dots)> dotsToCharacter = HostBrailleCharacter;
    // What the host does on a key name, after recording it (nothing when null).
    std::function<void(const char* keyName)> onKeyPressed;

    int32_t KeyPressed(IBrailleDriver* driver, const char* keyName, int32_t routingKey) override;
    int32_t CharacterTyped(IBrailleDriver* driver, const char* record, int32_t length) override;
    wchar_t DotsToCharacter(IBrailleDriver* driver, int32_t dotKeys) override;

    // Letters a to z and a few signs in six-dot literary braille; 0 for other chords.
    static wchar_t HostBrailleCharacter(int32_t dots);
    // The dot pattern of a character in that table (0 for none); a blank is 0.
    static uint8_t BrailleCell(char character);

    // Set by the callbacks: the driver passed something other than itself.
    bool wrongDriverSeen = false;

private:
    HMODULE module_ = nullptr;
    IBrailleDriver* driver_ = nullptr;
};
