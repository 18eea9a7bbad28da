// Owner of a Win32 critical section. lock()/try_lock()/unlock() make it usable with the standard
// lock holders.
#pragma once

#include <windows.h>

class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&section_); }
    ~CCriticalSection() { DeleteCriticalSection(&section_); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void lock() { EnterCriticalSection(&section_); }
    bool try_lock() { return TryEnterCriticalSection(&section_) != FALSE; }
    void unlock() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};
