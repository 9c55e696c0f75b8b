// The one driver object the screen reader talks to, and the free functions of
// its device channel. All driver state lives in the fields below.
#pragma once

#include <atomic>
#include <cstdint>

#include <windows.h>

#include "../common/Parameters.h"
#include "BrailleDriver.h"
#include "BrailleHostCallback.h"
#include "KeyEvent.h"
#include "LatestCells.h"

struct WorkerLaunch;

// Fields shared between threads are atomics of the listed width: each is written
// by one thread and read whole by others, with no lock anywhere.
class CBrailleSampleDriver : public IBrailleDriver {
public:
    CBrailleSampleDriver();
    ~CBrailleSampleDriver();
    CBrailleSampleDriver(const CBrailleSampleDriver&) = delete;
    CBrailleSampleDriver& operator=(const CBrailleSampleDriver&) = delete;

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

    // ---- Bookkeeping of the command channel ----
    // The running worker's launch record (WorkerOwnership.h), which holds its
    // command queue, or null.
    WorkerLaunch* m_pWorkerLaunch;
    // Held while a command is queued, and while the worker's record, handle
    // and id are set or cleared: a command never goes to a worker let go of.
    SRWLOCK m_channelLock;
    // Open, Close and SetSuspended run one at a time, whichever host threads
    // call them; recursive, so that a host that closes the driver from inside
    // a key callback served during one of their waits can do so.
    CRITICAL_SECTION m_lifecycleLock;

    // ---- Bookkeeping of bounded waits ----
    // Set when a worker was disowned: the library may still hold a link that
    // worker had or was opening. The next open of the link, and the unload
    // step, close it first.
    std::atomic<uint8_t> m_linkMayBeOpen;
    // Whether Open still waits for the open command's answer (OpenAnswer), so
    // that a display reporting no cells after Open gave up cannot take the
    // cells from under a host that was told the driver is open.
    std::atomic<long> m_openAnswer;

    // ---- The host's latest cells, and when the link was last tried ----
    LatestCells m_latestCells;
    // MonotonicMs of the host's latest output call (cell write, clear, status write).
    std::atomic<uint64_t> m_lastOutputMs;
    // Worker only: when the latest attempt to bring the link up ended, and
    // whether the host wants the link (from the open command to the close command).
    uint64_t m_lastLinkAttemptMs;
    bool m_linkWanted;
    // Worker only: the version of the latest cells the display took (0: not known).
    uint64_t m_shownVersion;
};

// States of m_openAnswer.
enum OpenAnswer : long {
    kOpenNotAwaited, // no Open waits (as when a command is posted by other means)
    kOpenAwaited,    // Open waits for the open command
    kOpenGaveUp,     // Open's wait ended first: the link comes up on the worker later
    kOpenSawNoCells, // the display reported 0 cells while Open still waited
};

extern CBrailleSampleDriver g_driver;
extern HINSTANCE g_moduleHandle;
// Set by the entry point when the process ends (not at FreeLibrary): every
// other thread is gone by then, the device library's among them, so the
// unload step calls nothing and releases nothing.
extern std::atomic<bool> g_processEnding;

// The host's texts are copied into the driver's fields with this bound.
int32_t CopyHostText(char* destination, const char* source);
