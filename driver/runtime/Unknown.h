// Object counting and the non-delegating IUnknown that COM aggregation needs.
#pragma once

#include <windows.h>
#include <unknwn.h>

// Process-wide counts that decide DllCanUnloadNow.
long ActiveObjectCount();
long ServerLockCount();
void ChangeServerLock(bool lock);

// Every COM object of this server counts itself while it lives.
class CBaseObject {
public:
    CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject();
};

// Same slot layout as IUnknown, so a pointer to it can stand in for the outer unknown of an
// object that is not aggregated.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    explicit CUnknown(IUnknown* outer);

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;
    virtual void destroy() { delete this; }

    IUnknown* outer() const { return outer_; }
    long referenceCount() const { return references_; }

private:
    IUnknown* outer_;
    long references_ = 0;
};

// The delegating IUnknown of a class deriving from CUnknown: every call goes to the outer unknown.
#define DECLARE_DELEGATING_UNKNOWN                                                                        \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override                           \
    {                                                                                                    \
        return outer()->QueryInterface(riid, ppv);                                                       \
    }                                                                                                    \
    ULONG STDMETHODCALLTYPE AddRef() override { return outer()->AddRef(); }                              \
    ULONG STDMETHODCALLTYPE Release() override { return outer()->Release(); }
