// CMmcssRegistration: the calling thread's registration with the multimedia class scheduler as
// "Pro Audio" at critical priority, for the object's lifetime. The scheduler is optional: without
// "Avrt.dll" or its functions the thread keeps only its SetThreadPriority priority.
#pragma once

#include <windows.h>

class CMmcssRegistration {
public:
    CMmcssRegistration();
    ~CMmcssRegistration();
    CMmcssRegistration(const CMmcssRegistration&) = delete;
    CMmcssRegistration& operator=(const CMmcssRegistration&) = delete;

    HANDLE task() const { return task_; }

private:
    using RevertFn = BOOL(WINAPI*)(HANDLE);
    HMODULE avrt_ = nullptr;
    HANDLE task_ = nullptr;
    RevertFn revert_ = nullptr;
};
