#include "NotifyWindow.h"

#include "KeyInput.h"
#include "SampleDriver.h"

namespace {
constexpr UINT kClassStyle = CS_VREDRAW | CS_HREDRAW;
constexpr char kFrameworkWndProcProperty[] = "AfxOldWndProc423";

// Still one of ours: the handle of a window gone by other means may have been
// handed to another window since.
bool RunsDriverCode(HWND window) {
    return IsWindow(window) &&
           GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(NotifyWindowProc);
}
} // namespace

bool OwnedByThisThread(HWND window) {
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

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

// Only its own thread may destroy a window; any other asks that thread to.
void ReleaseNotifyWindow(HWND window) {
    if (!RunsDriverCode(window))
        return;
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
    if (OwnedByThisThread(window))
        DestroyWindow(window);
    else
        PostMessageA(window, WM_CLOSE, 0, 0);
}
