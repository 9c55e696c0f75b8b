#include "DeviceCalls.h"

#include "DebugReport.h"
#include "DeviceLibrary.h"
#include "ExceptionShield.h"
#include "ScopedLock.h"
#include "Session.h"

namespace {

// What a contained fault stands for, per ordinal.
constexpr int32_t kFailedOpen = 0; // no retry with a shorter name either
constexpr int32_t kSizeNotReady = -1;
constexpr int32_t kFailedWrite = 0;
constexpr int32_t kNoDeviceData = 0;

// The shielded frames below hold only plain arguments: a structured exception
// unwinds them without running destructors.
struct OpenCall {
    const wchar_t* port;
    int32_t result;
};
struct RegisterCall {
    HWND window;
    int32_t result;
};
struct SizeCall {
    uint8_t* first;
    uint8_t* second;
    int32_t result;
};
struct WriteCall {
    uint8_t count;
    const uint8_t* cells;
    int32_t result;
};
struct DataCall {
    uint8_t* first;
    uint8_t* second;
    uint8_t* third;
    int32_t result;
};
struct PlainCall {
    int32_t result;
};

template <typename Call> Call* As(void* context) {
    return static_cast<Call*>(context);
}

// Only workers take it, one call at a time; never held across anything else.
SRWLOCK g_deviceLock = SRWLOCK_INIT;
// The session whose worker the library last answered an open of the link with
// success, until some worker closes it (compared, never followed).
const DriverSession* g_linkOwner = nullptr;

// Runs the call shielded, with the device lock held. Returns the call's
// result, or failure when the library raised anything.
int32_t CallShielded(int ordinal, void (*call)(void*), void* context, const int32_t& result,
                     int32_t failure) {
    ShieldedFault fault;
    const bool returned = RunShielded(call, context, &fault);
    if (!returned)
        ReportContainedFault(ordinal, fault.code);
    return returned ? result : failure;
}

int32_t CallDevice(DriverSession& session, int ordinal, void (*call)(void*), void* context,
                   const int32_t& result, int32_t failure) {
    ScopedLock turn(&g_deviceLock);
    if (session.abandoned)
        return failure;
    return CallShielded(ordinal, call, context, result, failure);
}

void CloseLinkShielded() {
    PlainCall call{0};
    CallShielded(
        2, [](void* c) { As<PlainCall>(c)->result = QornTI_CloseLink(); }, &call, call.result, 0);
    g_linkOwner = nullptr;
}

} // namespace

int32_t DeviceOpenLink(DriverSession& session, const wchar_t* portName) {
    ScopedLock turn(&g_deviceLock);
    if (session.abandoned)
        return kFailedOpen;
    if (g_linkOwner != nullptr && g_linkOwner != &session)
        CloseLinkShielded(); // left open by a worker the host gave up on
    OpenCall call{portName, 0};
    const int32_t result = CallShielded(
        15, [](void* c) { As<OpenCall>(c)->result = QornTI_OpenLink(As<OpenCall>(c)->port, 0); },
        &call, call.result, kFailedOpen);
    if (result > 0)
        g_linkOwner = &session;
    return result;
}

void DeviceRegisterKeyWindow(DriverSession& session, HWND window) {
    RegisterCall call{window, 0};
    CallDevice(
        session, 14,
        [](void* c) {
            As<RegisterCall>(c)->result =
                QornTI_RegisterKeyWindow(WM_BRAILLE_KEY, As<RegisterCall>(c)->window, 1);
        },
        &call, call.result, 0);
}

int32_t DeviceReadSize(DriverSession& session, uint8_t* first, uint8_t* second) {
    SizeCall call{first, second, 0};
    return CallDevice(
        session, 10,
        [](void* c) {
            SizeCall* size = As<SizeCall>(c);
            size->result = QornTI_ReadSize(size->first, size->second);
        },
        &call, call.result, kSizeNotReady);
}

int32_t DeviceWriteCells(DriverSession& session, uint8_t count, const uint8_t* cells) {
    WriteCall call{count, cells, 0};
    return CallDevice(
        session, 3,
        [](void* c) {
            WriteCall* write = As<WriteCall>(c);
            write->result = QornTI_WriteCells(0, write->count, write->cells);
        },
        &call, call.result, kFailedWrite);
}

int32_t DeviceReadData(DriverSession& session, uint8_t* first, uint8_t* second, uint8_t* third) {
    DataCall call{first, second, third, 0};
    return CallDevice(
        session, 9,
        [](void* c) {
            DataCall* data = As<DataCall>(c);
            data->result = QornTI_ReadDeviceData(data->first, data->second, data->third);
        },
        &call, call.result, kNoDeviceData);
}

void DeviceService(DriverSession& session) {
    PlainCall call{0};
    CallDevice(
        session, 16, [](void* c) { As<PlainCall>(c)->result = QornTI_Service(); }, &call,
        call.result, 0);
}

void DeviceCloseLink(DriverSession& session) {
    ScopedLock turn(&g_deviceLock);
    if (!session.abandoned)
        CloseLinkShielded();
}

void DeviceCloseOwnLink(const DriverSession& session) {
    ScopedLock turn(&g_deviceLock);
    if (g_linkOwner == &session)
        CloseLinkShielded();
}
