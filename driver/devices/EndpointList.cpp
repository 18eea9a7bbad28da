#include "EndpointList.h"

#include "DeviceIds.h"
#include "PropertyValue.h"

#include <cstring>
#include <cwctype>

namespace {

// Calls visit(text) for every string property in store order until it returns true.
template <class Visit>
bool FindString(IPropertyStore* store, Visit visit)
{
    DWORD count = 0;
    if (FAILED(store->GetCount(&count))) return false;
    for (DWORD i = 0; i < count; ++i) {
        PROPERTYKEY key = {};
        CPropertyValue value;
        if (FAILED(store->GetAt(i, &key)) || FAILED(store->GetValue(key, value.Put()))) continue;
        if (value.text() && visit(std::wstring(value.text()))) return true;
    }
    return false;
}

std::wstring ReadText(IPropertyStore* store, const PROPERTYKEY& key)
{
    CPropertyValue value;
    if (FAILED(store->GetValue(key, value.Put())) || !value.text()) return {};
    return value.text();
}

// The physical device's container id (a VT_CLSID value); empty when there is none.
std::wstring ReadContainerId(IPropertyStore* store)
{
    CPropertyValue value;
    if (FAILED(store->GetValue(kPkeyDeviceContainerId, value.Put())) || value.get().vt != VT_CLSID ||
        !value.get().puuid)
        return {};
    wchar_t text[40] = {};
    return StringFromGUID2(*value.get().puuid, text, 40) > 0 ? std::wstring(text) : std::wstring();
}

// The channel count of the shared-mode format (a WAVEFORMATEX blob); 0 when unknown.
int ReadChannels(IPropertyStore* store)
{
    CPropertyValue value;
    if (FAILED(store->GetValue(kPkeyAudioEngineDeviceFormat, value.Put())) || value.get().vt != VT_BLOB ||
        !value.get().blob.pBlobData || value.get().blob.cbSize < sizeof(WAVEFORMATEX))
        return 0;
    WAVEFORMATEX format = {};
    memcpy(&format, value.get().blob.pBlobData, sizeof(format));
    return format.nChannels;
}

std::wstring ReadFriendlyName(IPropertyStore* store) { return ReadText(store, kPkeyDeviceInterfaceFriendlyName); }

bool HasId(IMMDevice* device, const std::wstring& id)
{
    LPWSTR own = nullptr;
    if (FAILED(device->GetId(&own)) || !own) return false;
    const bool same = id == own;
    CoTaskMemFree(own);
    return same;
}

// The first string property that is a "\\?\" device path.
bool FindDevicePath(IPropertyStore* store, std::wstring& path)
{
    return FindString(store, [&](const std::wstring& text) {
        if (text.find(L"\\\\?\\") == std::wstring::npos) return false;
        path = text;
        return true;
    });
}

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text) c = wchar_t(std::towupper(c));
    return text;
}

bool IsUsbInterfacePath(const std::wstring& text)
{
    const std::wstring upper = Upper(text);
    for (const wchar_t* token : {L"\\\\?\\", L"USB", L"VID", L"PID"})
        if (upper.find(token) == std::wstring::npos) return false;
    return true;
}

EDataFlow FlowOf(IMMDevice* device)
{
    ComPtr<IMMEndpoint> endpoint;
    EDataFlow flow = eAll;
    if (FAILED(device->QueryInterface(__uuidof(IMMEndpoint), endpoint.PutVoid())) || !endpoint ||
        FAILED(endpoint->GetDataFlow(&flow)))
        return eAll;
    return flow;
}

}  // namespace

HRESULT CEndpointList::NewEnumerator(ComPtr<IMMDeviceEnumerator>& enumerator) const
{
    const HRESULT hr = platform_->CreateEndpointEnumerator(enumerator.Put());
    return SUCCEEDED(hr) && !enumerator ? E_POINTER : hr;
}

bool CEndpointList::ActiveEndpoints(ComPtr<IMMDeviceCollection>& endpoints, UINT& count) const
{
    ComPtr<IMMDeviceEnumerator> enumerator;
    count = 0;
    return SUCCEEDED(NewEnumerator(enumerator)) &&
           SUCCEEDED(enumerator->EnumAudioEndpoints(eAll, DEVICE_STATE_ACTIVE, endpoints.Put())) && endpoints &&
           SUCCEEDED(endpoints->GetCount(&count));
}

bool CEndpointList::List(std::vector<std::wstring>& renderPaths, std::vector<std::wstring>& capturePaths) const
{
    ComPtr<IMMDeviceCollection> endpoints;
    UINT count = 0;
    if (!ActiveEndpoints(endpoints, count)) return false;

    bool listed = false;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        ComPtr<IPropertyStore> store;
        if (FAILED(endpoints->Item(i, device.Put())) || !device) continue;
        const EDataFlow flow = FlowOf(device.Get());
        if (flow != eRender && flow != eCapture) continue;
        if (FAILED(device->OpenPropertyStore(STGM_READ, store.Put())) || !store) continue;
        std::wstring path;
        const bool found = FindString(store.Get(), [&](const std::wstring& text) {
            if (!IsUsbInterfacePath(text)) return false;
            path = text;
            return true;
        });
        if (!found) continue;
        (flow == eRender ? renderPaths : capturePaths).push_back(path);
        listed = true;
    }
    return listed;
}

bool CEndpointList::Default(EDataFlow flow, std::wstring& path, std::wstring& friendlyName) const
{
    path.clear();
    friendlyName.clear();
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDevice> device;
    ComPtr<IPropertyStore> store;
    if (FAILED(NewEnumerator(enumerator)) ||
        FAILED(enumerator->GetDefaultAudioEndpoint(flow, eMultimedia, device.Put())) || !device ||
        FAILED(device->OpenPropertyStore(STGM_READ, store.Put())) || !store)
        return false;
    friendlyName = ReadFriendlyName(store.Get());
    return FindDevicePath(store.Get(), path);
}

bool CEndpointList::Describe(const std::wstring& id, EndpointDescription& description) const
{
    description = EndpointDescription{};
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDevice> device;
    ComPtr<IPropertyStore> store;
    DWORD state = 0;
    if (id.empty() || FAILED(NewEnumerator(enumerator)) || FAILED(enumerator->GetDevice(id.c_str(), device.Put())) ||
        !device || FAILED(device->GetState(&state)) || state != DEVICE_STATE_ACTIVE)
        return false;
    description.flow = FlowOf(device.Get());
    if (description.flow != eRender && description.flow != eCapture) return false;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.Put())) || !store) return false;
    Fill(id, store.Get(), description);
    return true;
}

bool CEndpointList::ListAll(std::vector<EndpointDescription>& endpoints) const
{
    endpoints.clear();
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDeviceCollection> collection;
    UINT count = 0;
    if (FAILED(NewEnumerator(enumerator)) ||
        FAILED(enumerator->EnumAudioEndpoints(eAll, DEVICE_STATEMASK_ALL, collection.Put())) || !collection ||
        FAILED(collection->GetCount(&count)))
        return false;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        ComPtr<IPropertyStore> store;
        LPWSTR id = nullptr;
        DWORD state = 0;
        if (FAILED(collection->Item(i, device.Put())) || !device || FAILED(device->GetState(&state))) continue;
        EndpointDescription description;
        description.flow = FlowOf(device.Get());
        if (description.flow != eRender && description.flow != eCapture) continue;
        if (FAILED(device->OpenPropertyStore(STGM_READ, store.Put())) || !store) continue;
        if (FAILED(device->GetId(&id)) || !id) continue;
        const std::wstring text = id;
        CoTaskMemFree(id);
        Fill(text, store.Get(), description);
        description.active = state == DEVICE_STATE_ACTIVE;
        endpoints.push_back(std::move(description));
    }
    return true;
}

void CEndpointList::Fill(const std::wstring& id, IPropertyStore* store, EndpointDescription& description)
{
    description.id = id;
    description.friendlyName = ReadText(store, kPkeyDeviceFriendlyName);
    description.interfaceName = ReadFriendlyName(store);
    FindDevicePath(store, description.interfacePath);
    description.containerId = ReadContainerId(store);
    description.channels = ReadChannels(store);
}

bool CEndpointList::Find(EDataFlow flow, const std::wstring& path, ComPtr<IMMDevice>& device,
                         std::wstring* friendlyName) const
{
    device.Reset();
    if (path.empty()) return false;
    ComPtr<IMMDeviceCollection> endpoints;
    UINT count = 0;
    if (!ActiveEndpoints(endpoints, count)) return false;

    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> candidate;
        ComPtr<IPropertyStore> store;
        if (FAILED(endpoints->Item(i, candidate.Put())) || !candidate || FlowOf(candidate.Get()) != flow) continue;
        if (FAILED(candidate->OpenPropertyStore(STGM_READ, store.Put())) || !store) continue;
        if (!HasId(candidate.Get(), path) &&
            !FindString(store.Get(), [&](const std::wstring& text) { return text == path; }))
            continue;
        if (friendlyName) *friendlyName = ReadFriendlyName(store.Get());
        device = candidate;
        return true;
    }
    return false;
}
