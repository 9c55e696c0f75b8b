// Owners for COM resources, so that every way out of the serial-port stage
// releases exactly what it acquired (interface references: WRL's ComPtr).
#pragma once

#include <new>

#include <windows.h>
#include <oleauto.h>

// A BSTR made from a literal; throws std::bad_alloc when there is no memory.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {
        if (text_ == nullptr)
            throw std::bad_alloc();
    }
    ~Bstr() { SysFreeString(text_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return text_; }

private:
    BSTR text_;
};

// A VARIANT that is cleared when the owner goes.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() { return &value_; }
    const VARIANT& value() const { return value_; }

private:
    VARIANT value_;
};

// This thread's membership of the multithreaded apartment, for the owner's life.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool joined() const { return SUCCEEDED(result_); }

private:
    HRESULT result_;
};
