#include "DeviceCalls.h"

#include <atomic>

#include "Clock.h"
#include "DebugReport.h"
#include "DeviceLibrary.h"
#include "ExceptionShield.h"
#include "Session.h"

namespace {

// What a contained fault stands for, per ordinal.
constexpr int32_t kFailedOpen = 0; // no retry with a shorter name either
constexpr int32_t kSizeNotReady = -1;
constexpr int32_t kFailedWrite = 0;
constexpr int32_t kNoDeviceData = 0;

// Only workers take it, one device call at a time; never held across anything else.
SRWLOCK g_deviceLock = SRWLOCK_INIT;
// The session whose worker the library last answered an open of the link with
// success, until some worker closes it (compared, never followed).
std::atomic<const DriverSession*> g_linkOwner{nullptr};

// A worker's turn in the library. It gives up waiting once its session is
// abandoned, so a worker queued behind one stuck in the library can still end;
// one closing its own link as it ends waits at most kOwnLinkCloseWaitMs.
bool TakeDeviceTurn(const DriverSession& session, bool closingOwnLink) {
    const Deadline deadline(qorn::kOwnLinkCloseWaitMs);
    while (!TryAcquireSRWLockExclusive(&g_deviceLock)) {
        if (closingOwnLink ? deadline.Remaining() == 0 : session.abandoned.load())
            return false;
        Sleep(qorn::kDeviceTurnPollMs);
    }
    return true;
}

struct DeviceTurn {
    explicit DeviceTurn(const DriverSession& session, bool closingOwnLink = false)
        : held(TakeDeviceTurn(session, closingOwnLink)) {}
    ~DeviceTurn() {
        if (held)
            ReleaseSRWLockExclusive(&g_deviceLock);
    }
    const bool held;
};

// Runs call() shielded, with the device lock held: its result, or failure when
// the library raised anything. The shielded frames hold only references, which
// a structured exception unwinds without running destructors.
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
    const DeviceTurn turn(session);
    return turn.held && !session.abandoned ? CallShielded(ordinal, call, failure) : failure;
}

void CloseLinkShielded() {
    CallShielded(
        2, [] { return QornTI_CloseLink(); }, 0);
    g_linkOwner = nullptr;
}

} // namespace

int32_t DeviceOpenLink(DriverSession& session, const wchar_t* portName) {
    const DeviceTurn turn(session);
    if (!turn.held && !session.abandoned)
        return kFailedOpen;
    if (g_linkOwner != nullptr && g_linkOwner != &session)
        CloseLinkShielded(); // left open by a worker the host gave up on
    const int32_t result = CallShielded(
        15, [&] { return QornTI_OpenLink(portName, 0); }, kFailedOpen);
    if (result > 0)
        g_linkOwner = &session;
    return result;
}

void DeviceRegisterKeyWindow(DriverSession& session, HWND window) {
    CallDevice(
        session, 14, [&] { return QornTI_RegisterKeyWindow(WM_BRAILLE_KEY, window, 1); }, 0);
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
        session, 16, [] { return QornTI_Service(); }, 0);
}

void DeviceCloseLink(DriverSession& session) {
    const DeviceTurn turn(session);
    if (turn.held && !session.abandoned)
        CloseLinkShielded();
}

// Only a worker with the turn changes the owner away from this session, so
// the look before taking the turn is safe.
void DeviceCloseOwnLink(const DriverSession& session) {
    if (g_linkOwner != &session)
        return;
    const DeviceTurn turn(session, /*closingOwnLink=*/true);
    if (turn.held && g_linkOwner == &session)
        CloseLinkShielded();
}
