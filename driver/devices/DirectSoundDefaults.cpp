#include "DirectSoundDefaults.h"

#include <veloran/ComPtr.h>

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <dsound.h>
#include <dsconf.h>

#include <vector>

namespace {

constexpr CLSID kClsidDirectSoundPrivate = {0x11ab3ec0, 0x25ec, 0x11d1, {0xa4, 0xd8, 0x00, 0xc0, 0x4f, 0xc2, 0x8a, 0xca}};
constexpr GUID kIidKsPropertySet = {0x31efac30, 0x515c, 0x11d0, {0xa9, 0xaa, 0x00, 0xaa, 0x00, 0x61, 0xbe, 0x93}};
constexpr GUID kPropSetDirectSoundDevice = {
    0x84624f82, 0x25ec, 0x11d1, {0xa4, 0xd8, 0x00, 0xc0, 0x4f, 0xc2, 0x8a, 0xca}};
constexpr ULONG kPropertyDescriptionW = 6;
constexpr size_t kTextLimit = 8192 / sizeof(wchar_t);

static_assert(sizeof(DSPROPERTY_DIRECTSOUNDDEVICE_DESCRIPTION_W_DATA) == (sizeof(void*) == 8 ? 56 : 40));

class CLibrary {
public:
    explicit CLibrary(const wchar_t* name) : module_(LoadLibraryW(name)) {}
    ~CLibrary() { if (module_) FreeLibrary(module_); }
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

std::wstring Bounded(const wchar_t* text)
{
    return text ? std::wstring(text, wcsnlen(text, kTextLimit - 1)) : std::wstring();
}

}  // namespace

bool GetDirectSoundDefaultDevice(bool capture, std::wstring& path, std::wstring& friendlyName, int* waveDeviceId)
{
    const CLibrary dsound(L"dsound.dll");
    if (!dsound.get()) return false;
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(dsound.get(), "DllGetClassObject")));
    if (!getClassObject) return false;

    ComPtr<IKsPropertySet> properties;
    {
        ComPtr<IClassFactory> factory;
        if (FAILED(getClassObject(kClsidDirectSoundPrivate, IID_IClassFactory, factory.PutVoid())) || !factory ||
            FAILED(factory->CreateInstance(nullptr, kIidKsPropertySet, properties.PutVoid())) || !properties)
            return false;
    }

    DSPROPERTY_DIRECTSOUNDDEVICE_DESCRIPTION_W_DATA request = {};
    request.DataFlow = capture ? DIRECTSOUNDDEVICE_DATAFLOW_CAPTURE : DIRECTSOUNDDEVICE_DATAFLOW_RENDER;
    ULONG needed = 0;
    properties->Get(kPropSetDirectSoundDevice, kPropertyDescriptionW, &request, sizeof(request), &request,
                    sizeof(request), &needed);
    if (needed < sizeof(request)) return false;

    // The texts follow the record in the same buffer.
    std::vector<BYTE> buffer(needed);
    memcpy(buffer.data(), &request, sizeof(request));
    ULONG returned = 0;
    if (FAILED(properties->Get(kPropSetDirectSoundDevice, kPropertyDescriptionW, buffer.data(), sizeof(request),
                               buffer.data(), needed, &returned)))
        return false;
    const auto* description = reinterpret_cast<const DSPROPERTY_DIRECTSOUNDDEVICE_DESCRIPTION_W_DATA*>(buffer.data());
    if (waveDeviceId) *waveDeviceId = static_cast<int>(description->WaveDeviceId);
    friendlyName = Bounded(description->Description);
    path = Bounded(description->Interface);
    return true;
}
