// The driver interface as the screen reader calls it: one table of 37 slots.
// Layout rules that keep it callable from a host built with Microsoft's compiler:
// single inheritance, no virtual destructor, no overloads, one declaration per slot,
// in slot order. Unnamed slots are positions the driver does not serve.
#pragma once

#include <cstdint>

#include <windows.h>

class IBrailleHostCallback;

class IBrailleDriver {
public:
    virtual int32_t Open(const char* port, IBrailleHostCallback* callback, const char* text1,
                         const char* text2) = 0;                                       // 0
    virtual void Close() = 0;                                                          // 1
    virtual IBrailleHostCallback* SetHostCallback(IBrailleHostCallback* callback) = 0; // 2
    virtual int32_t GetHostText1(char* buffer, int32_t size) = 0;                      // 3
    virtual int32_t GetHostText2(char* buffer, int32_t size) = 0;                      // 4
    virtual int32_t GetDisplayName(char* buffer, int32_t size) = 0;                    // 5
    virtual int32_t GetDriverAttributes() = 0;                                         // 6
    virtual int32_t GetDriverVersion() = 0;                                            // 7
    virtual int32_t GetDeviceVersion() = 0;                                            // 8
    virtual int32_t Unused9() = 0;                                                     // 9
    virtual int32_t Unused10() = 0;                                                    // 10
    virtual int32_t WriteCells(const unsigned char* cells, int32_t count) = 0;         // 11
    virtual int32_t WriteStatusCells(const unsigned char* cells, int32_t length) = 0;  // 12
    virtual int32_t ClearDisplay() = 0;                                                // 13
    virtual int32_t Unused14() = 0;                                                    // 14
    virtual int32_t Unused15() = 0;                                                    // 15
    virtual int32_t SetSuspended(int32_t suspend) = 0;                                 // 16
    virtual void Unused17() = 0;                                                       // 17
    virtual int32_t GetCellCount() = 0;                                                // 18
    virtual int32_t Unused19() = 0;                                                    // 19
    virtual int32_t GetStatusCellCount() = 0;                                          // 20
    virtual int32_t GetTotalCellCount() = 0;                                           // 21
    virtual int32_t Unused22() = 0;                                                    // 22
    virtual int32_t Unused23() = 0;                                                    // 23
    virtual int32_t Unused24() = 0;                                                    // 24
    virtual int32_t Unused25() = 0;                                                    // 25
    virtual int32_t Unused26() = 0;                                                    // 26
    virtual int32_t Unused27() = 0;                                                    // 27
    virtual int32_t Unused28() = 0;                                                    // 28
    virtual int32_t Unused29() = 0;                                                    // 29
    virtual void Unused30() = 0;                                                       // 30
    virtual int32_t Unused31() = 0;                                                    // 31
    virtual void Unused32() = 0;                                                       // 32
    virtual int32_t Unused33() = 0;                                                    // 33
    virtual int32_t GetManufacturer(char* buffer, int32_t size, GUID* guid) = 0;       // 34
    virtual void Unused35() = 0;                                                       // 35
    virtual void Unused36() = 0;                                                       // 36
};

constexpr int kBrailleDriverSlotCount = 37;

// The library's single export: hands out the one driver object.
extern "C" __declspec(dllexport) IBrailleDriver* GetBrailleInterface(IBrailleDriver** driver);
