#include "NotifyWindow.h"

#include "KeyDeliveryExit.h"
#include "KeyInput.h"
#include "SampleDriver.h"
#include "ScopedLock.h"

namespace {
constexpr UINT kClassStyle = CS_VREDRAW | CS_HREDRAW;
constexpr char kFrameworkWndProcProperty[] = "AfxOldWndProc423";

// The windows that still run NotifyWindowProc, whichever thread owns them.
// Plain storage: it must outlive every static destructor of the library.
SRWLOCK g_windowsLock = SRWLOCK_INIT;
HWND g_windows[qorn::kMaxNotifyWindows] = {};

bool Remember(HWND window) {
    ScopedLock locked(&g_windowsLock);
    for (HWND& slot : g_windows) {
        if (slot == nullptr) {
            slot = window;
            return true;
        }
    }
    return false;
}

} // namespace

void ForgetNotifyWindow(HWND window) {
    ScopedLock locked(&g_windowsLock);
    for (HWND& slot : g_windows) {
        if (slot == window)
            slot = nullptr;
    }
}

namespace {
// From here on the window's messages no longer reach the driver's code.
void CutOffFromDriver(HWND window) {
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
    ForgetNotifyWindow(window);
}

// Still one of ours: a handle of a window gone by other means (its thread
// ended) may have been handed to another window since.
bool StillRunsDriverCode(HWND window) {
    return IsWindow(window) &&
           GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(NotifyWindowProc);
}
} // namespace

bool OwnedByThisThread(HWND window) {
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

void RegisterNotifyWindowClass(HINSTANCE instance) {
    PrepareKeyDeliveryExit();
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
    if (!Remember(window)) { // more windows than any host keeps: this one is not made
        DestroyWindow(window);
        return nullptr;
    }
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NotifyWindowProc));
    RemovePropA(window, kFrameworkWndProcProperty);
    return window;
}

void DestroyNotifyWindow(HWND window) {
    if (window == nullptr)
        return;
    if (OwnedByThisThread(window)) {
        DestroyWindow(window);
        ForgetNotifyWindow(window);
        return;
    }
    CutOffFromDriver(window);
    PostMessageA(window, WM_CLOSE, 0, 0);
}

void RetireNotifyWindows() {
    HWND windows[qorn::kMaxNotifyWindows];
    {
        ScopedLock locked(&g_windowsLock);
        for (int i = 0; i < qorn::kMaxNotifyWindows; ++i)
            windows[i] = g_windows[i];
    }
    for (HWND window : windows) {
        if (window == nullptr)
            continue;
        if (StillRunsDriverCode(window))
            DestroyNotifyWindow(window);
        else
            ForgetNotifyWindow(window);
    }
}
