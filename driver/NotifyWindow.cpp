#include "NotifyWindow.h"

#include "KeyInput.h"
#include "SampleDriver.h"

namespace {
constexpr UINT kClassStyle = CS_VREDRAW | CS_HREDRAW;
constexpr char kFrameworkWndProcProperty[] = "AfxOldWndProc423";
} // namespace

void RegisterNotifyWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = kClassStyle;
    windowClass.lpfnWndProc = NotifyWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = g_driver.m_windowClassName;
    RegisterClassExA(&windowClass);
}

HWND CreateNotifyWindow(HINSTANCE instance) {
    const HWND window =
        CreateWindowExA(0, g_driver.m_windowClassName, nullptr, WS_DISABLED, CW_USEDEFAULT, 0,
                        CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr)
        return nullptr;
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NotifyWindowProc));
    RemovePropA(window, kFrameworkWndProcProperty);
    return window;
}

void DestroyNotifyWindow(HWND window) {
    if (window == nullptr)
        return;
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        DestroyWindow(window);
    else
        PostMessageA(window, WM_CLOSE, 0, 0);
}

void RetireNotifyWindow(HWND window) {
    if (window == nullptr)
        return;
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
    DestroyNotifyWindow(window);
}

void UnregisterNotifyWindowClass(HINSTANCE instance) {
    UnregisterClassA(g_driver.m_windowClassName, instance);
}
