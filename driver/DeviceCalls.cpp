#include "DeviceCalls.h"

#include "DebugReport.h"
#include "DeviceLibrary.h"
#include "ExceptionShield.h"
#include "WorkerOwnership.h"

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

// Runs the call outside the driver's code, shielded. Returns the call's result,
// or failure when the library raised anything.
int32_t CallDevice(int ordinal, void (*call)(void*), void* context, const int32_t& result,
                   int32_t failure) {
    LeaveDriver();
    DWORD code = 0;
    const bool returned = RunShielded(call, context, &code);
    if (!returned)
        ReportContainedFault(ordinal, code);
    ReturnToDriverOrUnwind();
    return returned ? result : failure;
}

} // namespace

int32_t DeviceOpenLink(const wchar_t* portName) {
    OpenCall call{portName, 0};
    return CallDevice(
        15, [](void* c) { As<OpenCall>(c)->result = QornTI_OpenLink(As<OpenCall>(c)->port, 0); },
        &call, call.result, kFailedOpen);
}

void DeviceRegisterKeyWindow(HWND window) {
    RegisterCall call{window, 0};
    CallDevice(
        14,
        [](void* c) {
            As<RegisterCall>(c)->result =
                QornTI_RegisterKeyWindow(WM_BRAILLE_KEY, As<RegisterCall>(c)->window, 1);
        },
        &call, call.result, 0);
}

int32_t DeviceReadSize(uint8_t* first, uint8_t* second) {
    SizeCall call{first, second, 0};
    return CallDevice(
        10,
        [](void* c) {
            SizeCall* size = As<SizeCall>(c);
            size->result = QornTI_ReadSize(size->first, size->second);
        },
        &call, call.result, kSizeNotReady);
}

int32_t DeviceWriteCells(uint8_t count, const uint8_t* cells) {
    WriteCall call{count, cells, 0};
    return CallDevice(
        3,
        [](void* c) {
            WriteCall* write = As<WriteCall>(c);
            write->result = QornTI_WriteCells(0, write->count, write->cells);
        },
        &call, call.result, kFailedWrite);
}

int32_t DeviceReadData(uint8_t* first, uint8_t* second, uint8_t* third) {
    DataCall call{first, second, third, 0};
    return CallDevice(
        9,
        [](void* c) {
            DataCall* data = As<DataCall>(c);
            data->result = QornTI_ReadDeviceData(data->first, data->second, data->third);
        },
        &call, call.result, kNoDeviceData);
}

void DeviceService() {
    PlainCall call{0};
    CallDevice(
        16, [](void* c) { As<PlainCall>(c)->result = QornTI_Service(); }, &call, call.result, 0);
}

void DeviceCloseLink() {
    PlainCall call{0};
    CallDevice(
        2, [](void* c) { As<PlainCall>(c)->result = QornTI_CloseLink(); }, &call, call.result, 0);
}
