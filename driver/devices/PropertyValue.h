// CPropertyValue: owner of a PROPVARIANT read from a property store.
#pragma once

#include <windows.h>
#include <propidl.h>

class CPropertyValue {
public:
    CPropertyValue() { PropVariantInit(&value_); }
    ~CPropertyValue() { PropVariantClear(&value_); }
    CPropertyValue(const CPropertyValue&) = delete;
    CPropertyValue& operator=(const CPropertyValue&) = delete;

    PROPVARIANT* Put() { PropVariantClear(&value_); return &value_; }
    PROPVARIANT& get() { return value_; }
    // The string of a VT_LPWSTR value; null for any other type.
    const wchar_t* text() const { return value_.vt == VT_LPWSTR ? value_.pwszVal : nullptr; }

private:
    PROPVARIANT value_;
};
