#include "Unknown.h"

namespace {
volatile long gActiveObjects = 0;
long gServerLocks = 0;
}  // namespace

long ActiveObjectCount() { return gActiveObjects; }
long ServerLockCount() { return gServerLocks; }

void ChangeServerLock(bool lock)
{
    if (lock)
        ++gServerLocks;
    else
        --gServerLocks;
}

CBaseObject::CBaseObject() { InterlockedIncrement(&gActiveObjects); }
CBaseObject::~CBaseObject() { InterlockedDecrement(&gActiveObjects); }

CUnknown::CUnknown(IUnknown* outer)
    : outer_(outer ? outer : reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this)))
{
}

HRESULT STDMETHODCALLTYPE CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<INonDelegatingUnknown*>(this);
        NonDelegatingAddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingAddRef()
{
    const long count = InterlockedIncrement(&references_);
    return count > 1 ? count : 1;
}

ULONG STDMETHODCALLTYPE CUnknown::NonDelegatingRelease()
{
    const long count = InterlockedDecrement(&references_);
    if (count == 0) {
        // Keep the count above zero while the destructor runs, so that a reference taken and
        // dropped during destruction cannot destroy the object a second time.
        references_ = 1;
        destroy();
        return 0;
    }
    return count > 1 ? count : 1;
}
