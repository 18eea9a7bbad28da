// The class factory that hosts reach through DllGetClassObject.
#pragma once

#include "Unknown.h"

struct CFactoryTemplate {
    const wchar_t* name;
    const CLSID* clsid;
    CUnknown* (*create)(IUnknown* outer, HRESULT* result);
};

// The one class this server makes: the driver object.
extern const CFactoryTemplate kDriverTemplate;

class CClassFactory : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* factoryTemplate) : template_(factoryTemplate) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    long references_ = 0;
    const CFactoryTemplate* template_;
};
