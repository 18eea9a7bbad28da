// COM initialised as a single-threaded apartment for the lifetime of the object, on the thread
// that made it.
#pragma once

#include <objbase.h>

class CComApartment {
public:
    CComApartment() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
    ~CComApartment() { if (initialised_) CoUninitialize(); }

private:
    bool initialised_;
};
