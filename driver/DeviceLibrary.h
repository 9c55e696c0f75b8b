// The display maker's device library QornTI.dll, imported by ordinal only
// (see DeviceLibrary.def). Every result the driver tests is a signed 32-bit value.
#pragma once

#include <cstdint>

#include <windows.h>

// Key events arrive at the registered window as this message, lParam = KeyEvent*.
constexpr UINT WM_BRAILLE_KEY = 1025;

extern "C" {
// Ordinal 15: open the link on a wide port name. > 0 linked, 0 failed,
// < 0 failed and worth a retry with the text before the first ':'.
int32_t QornTI_OpenLink(const wchar_t* portName, int32_t reserved);
// Ordinal 14: deliver key events to this window as the given message.
int32_t QornTI_RegisterKeyWindow(UINT message, HWND window, uint8_t flag);
// Ordinal 10: read the display size; < 0 not ready, else both bytes filled.
int32_t QornTI_ReadSize(uint8_t* first, uint8_t* second);
// Ordinal 3: write cells; < 1 failed.
int32_t QornTI_WriteCells(int32_t reserved, uint8_t count, const uint8_t* cells);
// Ordinal 9: read three bytes of device data; > 0 all three filled.
int32_t QornTI_ReadDeviceData(uint8_t* first, uint8_t* second, uint8_t* third);
// Ordinal 16: service the library.
int32_t QornTI_Service(void);
// Ordinal 2: close the link.
int32_t QornTI_CloseLink(void);
}
