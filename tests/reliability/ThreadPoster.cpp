// Another program on the same desktop, doing what any program of the same
// user can:
//   thread_poster.exe PID WPARAM LPARAM   (the two values in hexadecimal)
// posts every number from WM_USER to WM_USER + 64, WM_TIMER and WM_QUIT to
// each thread of the process, with those values; the exit code is the number
// of posts taken.
//   thread_poster.exe power EVENT   (hexadecimal)
// broadcasts WM_POWERBROADCAST with that event to every top-level window, as
// Windows does at sleep and wake; the exit code is 1 when it was sent.
//   thread_poster.exe devicechange EVENT [PORT]   (hexadecimal)
// broadcasts WM_DEVICECHANGE, as Windows does when a serial port comes or goes
// (with a DEV_BROADCAST_PORT naming PORT); the exit code is 1 when it was sent.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <tlhelp32.h>

#include "PortRecords.h"

namespace {

std::vector<DWORD> ThreadsOf(DWORD processId) {
    std::vector<DWORD> threads;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return threads;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId)
            threads.push_back(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return threads;
}

std::vector<UINT> MessageNumbers() {
    std::vector<UINT> numbers;
    for (UINT n = WM_USER; n <= WM_USER + 64; ++n)
        numbers.push_back(n);
    numbers.push_back(WM_TIMER);
    numbers.push_back(WM_QUIT);
    return numbers;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "power") == 0) {
        DWORD_PTR answer = 0;
        return SendMessageTimeoutW(HWND_BROADCAST, WM_POWERBROADCAST,
                                   static_cast<WPARAM>(strtoul(argv[2], nullptr, 16)), 0,
                                   SMTO_ABORTIFHUNG, 1000, &answer) != 0;
    }
    if (argc >= 3 && strcmp(argv[1], "devicechange") == 0) {
        const std::wstring port = argc > 3 ? std::wstring(argv[3], argv[3] + strlen(argv[3])) : L"";
        return BroadcastDeviceChange(strtoul(argv[2], nullptr, 16),
                                     argc > 3 ? port.c_str() : nullptr);
    }
    if (argc < 4)
        return -1;
    const auto processId = static_cast<DWORD>(strtoul(argv[1], nullptr, 10));
    const auto wParam = static_cast<WPARAM>(strtoull(argv[2], nullptr, 16));
    const auto lParam = static_cast<LPARAM>(strtoull(argv[3], nullptr, 16));
    int taken = 0;
    for (const DWORD thread : ThreadsOf(processId)) {
        for (const UINT message : MessageNumbers())
            taken += PostThreadMessageA(thread, message, wParam, lParam) ? 1 : 0;
    }
    return taken;
}
