// One session of the driver: what a successful Open sets up and Close ends.
// Its worker, command queue, key window, link state and the cells it showed
// belong to it alone. The driver holds its current session; the session's
// worker and a host call working on it hold references of their own, so a
// session lives on after its time as the current one for as long as either
// still runs.
//
// The worker owns the link state. While its session is current it mirrors
// that state into the driver's fields (m_linkUp, m_cellCount, ...), which the
// host reads; once the session is not current, nothing the worker does
// reaches the driver.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <windows.h>

#include "../common/Parameters.h"
#include "CommandQueue.h"
#include "DiscoveryThread.h"
#include "LinkPolicy.h"

class CBrailleSampleDriver;

// What Open learns of the display's cells from the open command.
enum OpenAnswer : long {
    kOpenUnanswered, // Open waits, or no Open does (the command queued by other means)
    kOpenGaveUp,     // Open's wait ended first: the link comes up on the worker later
    kOpenSawNoCells, // the display reported 0 cells while Open still waited
};

struct DriverSession {
    explicit DriverSession(CBrailleSampleDriver* owner);
    ~DriverSession();

    CBrailleSampleDriver* const driver;
    const uint64_t serial;   // one number per session of the process, never used again
    HANDLE thread = nullptr; // the worker; closed with the session
    DWORD threadId = 0;
    HANDLE ackEvent = nullptr; // set by the worker once its queue exists
    HMODULE pinnedModule = nullptr;
    CommandQueue commands;
    std::atomic<HWND> keyWindow{nullptr}; // registered with the library at every link-up
    // The host gave up waiting for the worker: once its call returns it makes
    // no more device calls, closes a link it opened, and ends.
    std::atomic<bool> abandoned{false};
    std::atomic<bool> closing{false}; // Close has begun to stop the session
    // The latest power broadcast, as the worker's power command takes it: the
    // last word of a burst of sleep and wake events is the one that counts.
    std::atomic<LinkEvent> latestPower{LinkEvent::kWake};
    std::atomic<long> openAnswer{kOpenUnanswered};

    // ---- Written by the worker, mirrored into the driver while current ----
    LinkState link; // the inputs of the link's one decision (LinkPolicy.h)
    std::atomic<int32_t> cellCount;
    std::atomic<int32_t> statusCellCount;
    wchar_t portNameW[qorn::kPortNameChars + 1] = {};

    // ---- The worker's own ----
    uint64_t shownVersion = 0; // of the latest cells the display took (0: not known)
    DiscoveryThread search;    // one under way (no handle: none)
    wchar_t foundPort[qorn::kPortNameChars + 1] = {}; // what its answer named
    uint64_t lastServiceMs = 0;
};

// A reference on a session.
using SessionRef = std::shared_ptr<DriverSession>;

// The driver's current session, or an empty reference.
SessionRef CurrentSession(CBrailleSampleDriver* driver);
// The session becomes the driver's current one (it must have none): its
// worker's handle, id and event show in the driver's fields.
void MakeCurrent(const SessionRef& session);
// The session is the driver's no more, if it was: the worker's fields are
// cleared and the link counts as down.
void Detach(DriverSession& session);
// Worker side: copies the session's link state into the driver's fields,
// only while the session is current. A link that came up also restarts the
// host's count of refused output calls.
void PublishLinkState(const DriverSession& session, bool linkCameUp = false);
