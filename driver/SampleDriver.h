// The one driver object the screen reader talks to, and the free functions of
// its device channel. All driver state lives in the fields below.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <windows.h>

#include "../common/Parameters.h"
#include "BrailleDriver.h"
#include "BrailleHostCallback.h"
#include "KeyEvent.h"
#include "LatestCells.h"

struct DriverSession;

// Fields shared between threads are atomics of the listed width, read whole.
// The link fields mirror the current session's, which its worker copies in
// under m_sessionLock (Session.h).
class CBrailleSampleDriver : public IBrailleDriver {
public:
    CBrailleSampleDriver();
    ~CBrailleSampleDriver();

    // ---- The interface table, in slot order ----
    int32_t Open(const char* port, IBrailleHostCallback* callback, const char* text1,
                 const char* text2) override;
    void Close() override;
    IBrailleHostCallback* SetHostCallback(IBrailleHostCallback* callback) override;
    int32_t GetHostText1(char* buffer, int32_t size) override;
    int32_t GetHostText2(char* buffer, int32_t size) override;
    int32_t GetDisplayName(char* buffer, int32_t size) override;
    int32_t GetDriverAttributes() override;
    int32_t GetDriverVersion() override;
    int32_t GetDeviceVersion() override;
    int32_t Unused9() override { return 0; }
    int32_t Unused10() override { return 0; }
    int32_t WriteCells(const unsigned char* cells, int32_t count) override;
    int32_t WriteStatusCells(const unsigned char* cells, int32_t length) override;
    int32_t ClearDisplay() override;
    int32_t Unused14() override { return 0; }
    int32_t Unused15() override { return 0; }
    int32_t SetSuspended(int32_t suspend) override;
    void Unused17() override {}
    int32_t GetCellCount() override;
    int32_t Unused19() override { return 0; }
    int32_t GetStatusCellCount() override;
    int32_t GetTotalCellCount() override;
    int32_t Unused22() override { return 0; }
    int32_t Unused23() override { return 0; }
    int32_t Unused24() override { return 0; }
    int32_t Unused25() override { return 0; }
    int32_t Unused26() override { return 0; }
    int32_t Unused27() override { return 0; }
    int32_t Unused28() override { return 0; }
    int32_t Unused29() override { return 0; }
    void Unused30() override {}
    int32_t Unused31() override { return 0; }
    void Unused32() override {}
    int32_t Unused33() override { return 0; }
    int32_t GetManufacturer(char* buffer, int32_t size, GUID* guid) override;
    void Unused35() override {}
    void Unused36() override {}

    // ---- Key input, on the thread that owns the notification window ----
    void OnBrailleKey(const KeyEvent* event);
    void TypeDots(uint8_t dotKeys);
    int32_t TypeCharacter(uint8_t character);

    // ---- Fields, in declaration order ----
    std::atomic<uint32_t> m_opened;
    std::atomic<uint32_t> m_suspended;
    char m_hostText1[qorn::kHostTextSize];
    char m_hostText2[qorn::kHostTextSize];
    IBrailleHostCallback* m_pHostCallback;
    std::atomic<int32_t> m_cellCount;
    std::atomic<int32_t> m_statusCellCount;
    std::atomic<uint8_t> m_alive;
    std::atomic<uint8_t> m_linkUp;
    std::atomic<uint8_t> m_linkStale;
    int32_t m_writeFailures;
    std::atomic<int32_t> m_skippedWrites;
    wchar_t m_portNameW[qorn::kPortNameChars + 1];
    uint32_t m_discoveryThreadId;
    HANDLE m_hDiscoveryThread;
    char m_discoveredPort[qorn::kDiscoveredPortSize];
    uint8_t m_discoveryCompleted;
    std::atomic<int32_t> m_skipLimit;
    std::atomic<int32_t> m_relinkRequests;
    HANDLE m_hWorkerThread;
    HANDLE m_hAckEvent;
    std::atomic<uint32_t> m_workerThreadId;
    HWND m_hNotifyWindow;
    const char* m_windowClassName;

    // ---- Bookkeeping of sessions (Session.h) ----
    // The current session, or null. m_sessionLock is held only to read or
    // switch it and the lifecycle turn below, never across a wait.
    std::shared_ptr<DriverSession> m_session;
    SRWLOCK m_sessionLock;
    // One lifecycle call at a time (LifecycleTurn.h): the thread inside Open,
    // Close or SetSuspended (0 for none), whether a Close was left to it, and
    // an event set while no such call is under way.
    DWORD m_turnOwner;
    std::atomic<bool> m_closeLeft;
    HANDLE m_hTurnFree;

    // ---- The host's latest cells ----
    LatestCells m_latestCells;
    // MonotonicMs of the host's latest output call (cell write, clear, status write).
    std::atomic<uint64_t> m_lastOutputMs;
};

extern CBrailleSampleDriver g_driver;
extern HINSTANCE g_moduleHandle;
// Set by the entry point when the process ends (not at FreeLibrary): every
// other thread is gone by then, the device library's among them, so the
// unload step calls nothing and releases nothing.
extern std::atomic<bool> g_processEnding;

// The host's texts are copied into the driver's fields with this bound.
int32_t CopyHostText(char* destination, const char* source);
