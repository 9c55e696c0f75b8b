#include "KeyInput.h"

#include <cstdint>

#include "DeviceLibrary.h"
#include "KeyNames.h"
#include "NotifyWindow.h"
#include "SampleDriver.h"
#include "TypedCharacter.h"

namespace {
constexpr DWORD kReadableProtection = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                      PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                                      PAGE_EXECUTE_WRITECOPY;
}

bool IsReadableMemory(const void* address, size_t size) {
    // A range that would run past the end of the address space wraps around
    // and would look empty below.
    if (address == nullptr || size > UINTPTR_MAX - reinterpret_cast<uintptr_t>(address))
        return false;
    const auto* p = static_cast<const char*>(address);
    const char* end = p + size;
    while (p < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(p, &info, sizeof info) == 0 || info.State != MEM_COMMIT ||
            (info.Protect & kReadableProtection) == 0 || (info.Protect & PAGE_GUARD) != 0)
            return false;
        p = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

LRESULT CALLBACK NotifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCDESTROY)
        ForgetNotifyWindow(window);
    if (!IsWindow(window) || window != g_driver.m_hNotifyWindow || message != WM_BRAILLE_KEY)
        return DefWindowProcA(window, message, wParam, lParam);
    const auto* event = reinterpret_cast<const KeyEvent*>(lParam);
    if (g_driver.m_pHostCallback != nullptr && IsReadableMemory(event, sizeof(KeyEvent)))
        g_driver.OnBrailleKey(event);
    return 0;
}

// The three bytes are read once; a second event may be handled inside the
// host's KeyPressed, so nothing here is kept between events.
void CBrailleSampleDriver::OnBrailleKey(const KeyEvent* event) {
    const KeyEvent keys = *event;
    try {
        const KeyAction action = DecodeKeyEvent(keys);
        IBrailleHostCallback* host = m_pHostCallback;
        switch (action.kind) {
        case KeyAction::kKeyName:
            if (host != nullptr)
                host->KeyPressed(this, action.name.c_str(), action.routingKey);
            break;
        case KeyAction::kTypeDots:
            TypeDots(action.dotKeys);
            break;
        case KeyAction::kTypeSpace:
            TypeCharacter(kSpaceCharacter);
            break;
        case KeyAction::kNothing:
            break;
        }
    } catch (...) {
        // Out of memory for the name: the event is lost, the host's loop is not.
    }
}
