// Identity, version, geometry and host-text queries of the interface table.
#include "CommandChannel.h"
#include "DebugReport.h"
#include "SampleDriver.h"
#include "Session.h"
#include "TextCopy.h"

namespace {
constexpr char kDisplayName[] = "Lumivo12";
constexpr char kManufacturer[] = "Mirel Tactus Co";
// {6B1D27A4-93C5-4E0F-A2D8-51C7E94B3F60}
constexpr GUID kDriverGuid = {
    0x6B1D27A4, 0x93C5, 0x4E0F, {0xA2, 0xD8, 0x51, 0xC7, 0xE9, 0x4B, 0x3F, 0x60}};
} // namespace

int32_t CBrailleSampleDriver::GetHostText1(char* buffer, int32_t size) {
    return CopyTextToBuffer(buffer, size, m_hostText1);
}

int32_t CBrailleSampleDriver::GetHostText2(char* buffer, int32_t size) {
    return CopyTextToBuffer(buffer, size, m_hostText2);
}

int32_t CBrailleSampleDriver::GetDisplayName(char* buffer, int32_t size) {
    return CopyTextToBuffer(buffer, size, kDisplayName);
}

int32_t CBrailleSampleDriver::GetDriverAttributes() {
    return qorn::kDriverAttributes;
}

int32_t CBrailleSampleDriver::GetDriverVersion() {
    return qorn::kDriverVersion;
}

// The worker asks the device library, which may answer late over a failing
// link: the host waits at most its usual bound and then answers 0, as without
// a link. Each call gets the answer to its own query.
int32_t CBrailleSampleDriver::GetDeviceVersion() {
    if (!m_linkUp)
        return 0;
    const SessionRef session = CurrentSession(this);
    bool answered = false;
    CommandAnswer answer;
    if (session &&
        QueueCommandWithin(*session, kCmdReadDeviceData, nullptr, 0, qorn::kHostWaitBudgetMs,
                           &answered, &answer) &&
        !answered)
        ReportToDebugger(L"GetDeviceVersion's wait (%lu ms) gave up; answered 0",
                         static_cast<unsigned long>(qorn::kHostWaitBudgetMs));
    if (!answered || answer.result <= 0)
        return 0;
    return (answer.bytes[0] << 16) | (answer.bytes[1] << 8) | answer.bytes[2];
}

int32_t CBrailleSampleDriver::GetCellCount() {
    return m_cellCount;
}

int32_t CBrailleSampleDriver::GetStatusCellCount() {
    return m_statusCellCount;
}

int32_t CBrailleSampleDriver::GetTotalCellCount() {
    return m_cellCount + m_statusCellCount;
}

// The name goes in whole or not at all: a buffer too small for it gets the
// result 0 and nothing written, like a null buffer or GUID pointer.
int32_t CBrailleSampleDriver::GetManufacturer(char* buffer, int32_t size, GUID* guid) {
    if (buffer == nullptr || guid == nullptr || size < static_cast<int32_t>(sizeof kManufacturer))
        return 0;
    CopyWholeTextToBuffer(buffer, size, kManufacturer);
    *guid = kDriverGuid;
    return 1;
}

int32_t CopyHostText(char* destination, const char* source) {
    return CopyTextToBuffer(destination, qorn::kHostTextSize, source);
}
