#include "ClassFactory.h"

#include "MordaneApp.h"

#include "../core/Mordane.h"
#include "../devices/DevicePlatform.h"

#include <veloran/DriverClassId.h>

#include <new>

namespace {

CUnknown* CreateDriver(IUnknown* outer, HRESULT* result)
{
    const CMordaneApp& app = TheApp();
    if (!app.hostKey() || !app.defaultKey()) {
        *result = E_UNEXPECTED;
        return nullptr;
    }
    // A failed allocation inside construction must not cross the COM boundary.
    try {
        return new (std::nothrow) CMordane(outer, result, *app.hostKey(), *app.defaultKey(), SystemDevicePlatform());
    } catch (const std::bad_alloc&) {
        *result = E_OUTOFMEMORY;
        return nullptr;
    }
}

}  // namespace

const CFactoryTemplate kDriverTemplate = {L"ASIO_DRIVER", &kVeloranDriverClsid, CreateDriver};

HRESULT STDMETHODCALLTYPE CClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CClassFactory::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE CClassFactory::Release()
{
    const long count = InterlockedDecrement(&references_);
    if (count == 0) delete this;
    return count;
}

HRESULT STDMETHODCALLTYPE CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;

    HRESULT result = S_OK;
    CUnknown* object = template_->create(outer, &result);
    if (!object) return FAILED(result) ? result : E_OUTOFMEMORY;
    if (FAILED(result)) {
        object->destroy();
        return result;
    }
    object->NonDelegatingAddRef();
    const HRESULT query = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return query;
}

HRESULT STDMETHODCALLTYPE CClassFactory::LockServer(BOOL lock)
{
    ChangeServerLock(lock != FALSE);
    return S_OK;
}
