// The DLL's exported entry points.
#include "Exports.h"

#include "ClassFactory.h"
#include "MordaneApp.h"
#include "Registration.h"

#include <olectl.h>
#include <cstdint>
#include <new>

extern "C" {

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
    if (!IsEqualCLSID(rclsid, *kDriverTemplate.clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    if (!ppv) return E_POINTER;
    CClassFactory* factory = new (std::nothrow) CClassFactory(&kDriverTemplate);
    if (!factory) {
        *ppv = nullptr;
        return E_OUTOFMEMORY;
    }
    factory->AddRef();
    *ppv = static_cast<IClassFactory*>(factory);
    return S_OK;
}

STDAPI DllCanUnloadNow()
{
    return ServerLockCount() > 0 || ActiveObjectCount() != 0 ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer()
{
    const CSettingsKey* key = TheApp().hostKey();
    return key ? RegisterServer(*key, TheApp().module()) : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer()
{
    const CSettingsKey* key = TheApp().hostKey();
    return key ? UnregisterServer(*key) : SELFREG_E_CLASS;
}

int32_t SetLanguage(int32_t language)
{
    const CSettingsKey* key = TheApp().hostKey();
    if (!key) return 1;
    key->WriteDword(L"Language", static_cast<uint32_t>(language));
    return 0;
}

}  // extern "C"
