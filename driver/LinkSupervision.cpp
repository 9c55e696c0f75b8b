#include "LinkSupervision.h"

#include <algorithm>
#include <cwchar>

#include "DeviceLibrary.h"
#include "ExceptionShield.h"
#include "SampleDriver.h"

namespace {

int32_t OpenOnPortName(CBrailleSampleDriver* driver) {
    int32_t result = QornTI_OpenLink(driver->m_portNameW, 0);
    if (result >= 0)
        return result;
    wchar_t prefix[qorn::kPortNameChars + 1];
    if (PortNameBeforeColon(driver->m_portNameW, prefix, qorn::kPortNameChars + 1) > 0)
        result = QornTI_OpenLink(prefix, 0);
    return result;
}

void MarkLinkUp(CBrailleSampleDriver* driver) {
    driver->m_writeFailures = 0;
    driver->m_skippedWrites = 0;
    driver->m_skipLimit = qorn::kSkipLimitNormal;
    driver->m_relinkRequests = 0;
    driver->m_linkUp = 1;
    driver->m_linkStale = 0;
}

// Polls the display size; if every poll fails the cell count stays as it is
// (12 from the open command, or what an earlier link reported).
void ReadCellCount(CBrailleSampleDriver* driver) {
    for (int attempt = 0; attempt < qorn::kSizePollAttempts; ++attempt) {
        uint8_t first = 0, second = 0;
        if (QornTI_ReadSize(&first, &second) >= 0) {
            driver->m_cellCount = std::min(first, second);
            return;
        }
        Sleep(qorn::kSizePollIntervalMs);
    }
}

} // namespace

int PortNameBeforeColon(const wchar_t* name, wchar_t* prefix, int size) {
    const wchar_t* colon = wcschr(name, L':');
    if (colon == nullptr || colon == name || colon - name >= size)
        return 0;
    const int length = static_cast<int>(colon - name);
    wmemcpy(prefix, name, static_cast<size_t>(length));
    prefix[length] = L'\0';
    return length;
}

// The link counts as down before the library is asked to close it, so a
// library that fails or throws while closing cannot leave it marked up.
void CloseLink(CBrailleSampleDriver* driver) {
    driver->m_linkUp = 0;
    driver->m_linkStale = 0;
    QornTI_CloseLink();
}

void LinkUp(CBrailleSampleDriver* driver) {
    if (OpenOnPortName(driver) <= 0)
        return;
    MarkLinkUp(driver);
    if (const HWND window = driver->m_hNotifyWindow)
        QornTI_RegisterKeyWindow(WM_BRAILLE_KEY, window, 1);
    // Output posted during the pause waits in the worker's queue.
    Sleep(qorn::kLinkSettleMs);
    ReadCellCount(driver);
}

namespace {

struct OpenLinkArguments {
    CBrailleSampleDriver* driver;
    const char* name;
    int32_t length;
};

// The steps run shielded: they own nothing that needs a destructor.
void OpenLinkStep(void* context) {
    const auto* args = static_cast<const OpenLinkArguments*>(context);
    CBrailleSampleDriver* driver = args->driver;
    if (driver->m_linkUp)
        CloseLink(driver);
    int converted = 0;
    if (args->name != nullptr && args->length > 0)
        converted = MultiByteToWideChar(CP_ACP, 0, args->name, args->length, driver->m_portNameW,
                                        qorn::kPortNameChars);
    driver->m_portNameW[converted > 0 ? converted : 0] = L'\0';
    if (converted <= 0)
        return; // empty, or too long for the device library: the link stays down
    LinkUp(driver);
}

void RelinkStep(void* context) {
    auto* driver = static_cast<CBrailleSampleDriver*>(context);
    if (driver->m_linkUp)
        CloseLink(driver);
    LinkUp(driver);
}

} // namespace

// A library that fails inside these steps, with an exception of any kind,
// leaves the link as far as the step had got; the worker goes on.
void OpenLink(CBrailleSampleDriver* driver, const char* name, int32_t length) {
    OpenLinkArguments args{driver, name, length};
    RunShielded(OpenLinkStep, &args);
}

void Relink(CBrailleSampleDriver* driver) {
    RunShielded(RelinkStep, driver);
}
