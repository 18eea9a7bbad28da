#include "MmcssRegistration.h"

#include <avrt.h>

CMmcssRegistration::CMmcssRegistration()
{
    avrt_ = LoadLibraryW(L"Avrt.dll");
    if (!avrt_) return;
    using SetFn = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
    using PriorityFn = BOOL(WINAPI*)(HANDLE, AVRT_PRIORITY);
    const auto set =
        reinterpret_cast<SetFn>(reinterpret_cast<void*>(GetProcAddress(avrt_, "AvSetMmThreadCharacteristicsW")));
    const auto priority =
        reinterpret_cast<PriorityFn>(reinterpret_cast<void*>(GetProcAddress(avrt_, "AvSetMmThreadPriority")));
    revert_ =
        reinterpret_cast<RevertFn>(reinterpret_cast<void*>(GetProcAddress(avrt_, "AvRevertMmThreadCharacteristics")));
    DWORD taskIndex = 0;
    if (set) task_ = set(L"Pro Audio", &taskIndex);
    if (task_ && priority) priority(task_, AVRT_PRIORITY_CRITICAL);
}

CMmcssRegistration::~CMmcssRegistration()
{
    if (task_ && revert_) revert_(task_);
    if (avrt_) FreeLibrary(avrt_);
}
