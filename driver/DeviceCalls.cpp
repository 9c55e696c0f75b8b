#include "DeviceCalls.h"

#include <atomic>

#include "Clock.h"
#include "DebugReport.h"
#include "DeviceLibrary.h"
#include "ExceptionShield.h"
#include "Session.h"

namespace {

// What a contained fault, or a call refused at the door, stands for, per ordinal.
constexpr int32_t kFailedOpen = 0; // no retry with a shorter name either
constexpr int32_t kSizeNotReady = -1;
constexpr int32_t kFailedWrite = 0;
constexpr int32_t kNoDeviceData = 0;
constexpr int32_t kIgnored = 0; // ordinals 14, 16 and 2: nobody reads the result

// Only workers take it, one device call at a time; never held across anything else.
SRWLOCK g_deviceLock = SRWLOCK_INIT;
// The session (its serial) whose worker the library last answered an open of
// the link with success, until some worker closes it; 0 for none.
std::atomic<uint64_t> g_linkOwner{0};

// What a worker comes to the library for: its session's work, or, as it ends,
// closing a link it opened (the one errand of a worker the host gave up on).
enum class Errand { kSessionCall, kCloseOwnLink };

bool Allowed(const DriverSession& session, Errand errand) {
    return errand == Errand::kSessionCall ? !session.abandoned : g_linkOwner == session.serial;
}

// Waits for the turn. A session's call gives up once its session is
// abandoned, so a worker queued behind one stuck in the library can still
// end; closing an own link gives up after kOwnLinkCloseWaitMs (the next
// worker's open closes it then).
bool TakeDeviceTurn(const DriverSession& session, Errand errand) {
    const Deadline deadline(qorn::kOwnLinkCloseWaitMs);
    while (!TryAcquireSRWLockExclusive(&g_deviceLock)) {
        if (errand == Errand::kCloseOwnLink ? deadline.Remaining() == 0 : session.abandoned.load())
            return false;
        Sleep(qorn::kDeviceTurnPollMs);
    }
    return true;
}

struct DeviceTurn {
    DeviceTurn(const DriverSession& session, Errand errand)
        : held(TakeDeviceTurn(session, errand)) {}
    ~DeviceTurn() {
        if (held)
            ReleaseSRWLockExclusive(&g_deviceLock);
    }
    const bool held;
};

// The one door into the library: work() runs with the turn held, and only if
// the errand is still allowed then; otherwise the call answers `refused`, as a
// failed call. The look before the wait spares one that would be refused.
template <typename Work>
int32_t ThroughTheDoor(const DriverSession& session, Errand errand, int32_t refused, Work work) {
    if (!Allowed(session, errand))
        return refused;
    const DeviceTurn turn(session, errand);
    return turn.held && Allowed(session, errand) ? work() : refused;
}

// Runs call() shielded: its result, or failure when the library raised
// anything. The shielded frames hold only references, which a structured
// exception unwinds without running destructors.
template <typename Call> int32_t CallShielded(int ordinal, Call call, int32_t failure) {
    int32_t result = failure;
    auto step = [&] { result = call(); };
    ShieldedFault fault;
    if (RunShieldedStep(step, &fault))
        return result;
    ReportContainedFault(ordinal, fault.code);
    return failure;
}

template <typename Call>
int32_t CallDevice(const DriverSession& session, int ordinal, Call call, int32_t failure) {
    return ThroughTheDoor(session, Errand::kSessionCall, failure,
                          [&] { return CallShielded(ordinal, call, failure); });
}

// The slot of our import table that the loader filled with the address of
// ordinal 16 (the import library names it so): an address inside the library.
extern "C" void* __imp_QornTI_Service;

// Windows calls the timer procedure a WM_TIMER or WM_SYSTIMER names, a posted
// one too: any program can post one naming any address, and any procedure a
// thread of the screen reader registered passes Windows' own check. Only the
// library's own procedures, and the library's windows on this thread, run.
// (Wine names a timer's procedure by a handle of its own, never in the library.)
bool RunsLibraryCode(const MSG& message) {
    const bool timer = message.message == WM_TIMER || message.message == 0x0118; // WM_SYSTIMER
    if (!timer || message.lParam == 0)
        return message.hwnd != nullptr;
    HMODULE library = nullptr, named = nullptr;
    const DWORD flags =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    return GetModuleHandleExW(flags, static_cast<LPCWSTR>(__imp_QornTI_Service), &library) &&
           GetModuleHandleExW(flags, reinterpret_cast<LPCWSTR>(message.lParam), &named) &&
           named == library;
}

// With the turn held.
int32_t CloseLinkShielded() {
    CallShielded(
        2, [] { return QornTI_CloseLink(); }, kIgnored);
    g_linkOwner = 0;
    return kIgnored;
}

} // namespace

// A link that another session's worker left open is closed in the same turn.
int32_t DeviceOpenLink(DriverSession& session, const wchar_t* portName) {
    return ThroughTheDoor(session, Errand::kSessionCall, kFailedOpen, [&] {
        if (g_linkOwner != 0 && g_linkOwner != session.serial)
            CloseLinkShielded(); // left open by a worker the host gave up on
        const int32_t result = CallShielded(
            15, [&] { return QornTI_OpenLink(portName, 0); }, kFailedOpen);
        if (result > 0)
            g_linkOwner = session.serial;
        return result;
    });
}

void DeviceRegisterKeyWindow(DriverSession& session, HWND window) {
    CallDevice(
        session, 14, [&] { return QornTI_RegisterKeyWindow(WM_BRAILLE_KEY, window, 1); }, kIgnored);
}

int32_t DeviceReadSize(DriverSession& session, uint8_t* first, uint8_t* second) {
    return CallDevice(
        session, 10, [&] { return QornTI_ReadSize(first, second); }, kSizeNotReady);
}

int32_t DeviceWriteCells(DriverSession& session, uint8_t count, const uint8_t* cells) {
    return CallDevice(
        session, 3, [&] { return QornTI_WriteCells(0, count, cells); }, kFailedWrite);
}

int32_t DeviceReadData(DriverSession& session, uint8_t* first, uint8_t* second, uint8_t* third) {
    return CallDevice(
        session, 9, [&] { return QornTI_ReadDeviceData(first, second, third); }, kNoDeviceData);
}

void DeviceService(DriverSession& session) {
    CallDevice(
        session, 16, [] { return QornTI_Service(); }, kIgnored);
}

void DeviceDispatch(DriverSession& session, const MSG& message) {
    if (RunsLibraryCode(message))
        CallDevice(
            session, 0 /* no ordinal: a window or timer of its own */,
            [&] { return static_cast<int32_t>(DispatchMessageA(&message)); }, kIgnored);
}

void DeviceCloseLink(DriverSession& session) {
    ThroughTheDoor(session, Errand::kSessionCall, kIgnored, CloseLinkShielded);
}

// Only a worker with the turn changes the owner away from this session, so
// the look before the wait is sound.
void DeviceCloseOwnLink(const DriverSession& session) {
    ThroughTheDoor(session, Errand::kCloseOwnLink, kIgnored, CloseLinkShielded);
}
