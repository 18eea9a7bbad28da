// CEndpointList: the active audio endpoints as the system's endpoint API shows them: listing by
// USB interface path, the default endpoints and lookup by device path. Every call makes its own
// enumerator, so one list serves any thread.
#pragma once

#include "DevicePlatform.h"

#include <veloran/ComPtr.h>

#include <windows.h>
#include <mmdeviceapi.h>

#include <string>
#include <vector>

// An endpoint found by its id, or listed.
struct EndpointDescription {
    EDataFlow flow = eAll;
    std::wstring id;             // as IMMDevice::GetId gives it
    std::wstring friendlyName;   // the endpoint's own name, "Speakers (USB Audio)"
    std::wstring interfaceName;  // its adapter's, "USB Audio"
    std::wstring interfacePath;  // the first "\\?\" path among its properties; empty when none
    // The physical device's container id in registry text form; empty where the system gives
    // none (Wine's endpoints).
    std::wstring containerId;
    int channels = 0;            // of the shared-mode format; 0 when unknown
    bool active = true;
};

class CEndpointList {
public:
    explicit CEndpointList(IDevicePlatform& platform) : platform_(&platform) {}

    HRESULT NewEnumerator(ComPtr<IMMDeviceEnumerator>& enumerator) const;
    // Appends the device path of every active endpoint that carries a USB interface path to the
    // list of its flow; true when one was listed.
    bool List(std::vector<std::wstring>& renderPaths, std::vector<std::wstring>& capturePaths) const;
    // The default multimedia endpoint of eRender or eCapture; true when it carries a "\\?\" path.
    bool Default(EDataFlow flow, std::wstring& path, std::wstring& friendlyName) const;
    // The active endpoint whose id (IMMDevice::GetId) this is; false when absent or not active.
    bool Describe(const std::wstring& id, EndpointDescription& description) const;
    // Every capture and render endpoint, the unplugged and disabled ones (not active) too, in the
    // system's order; false when the endpoints cannot be listed.
    bool ListAll(std::vector<EndpointDescription>& endpoints) const;
    // The first active endpoint of the flow whose id, or a string property, equals path
    // (case-sensitive).
    bool Find(EDataFlow flow, const std::wstring& path, ComPtr<IMMDevice>& device,
              std::wstring* friendlyName = nullptr) const;

private:
    static void Fill(const std::wstring& id, IPropertyStore* store, EndpointDescription& description);
    // The active endpoints of both flows.
    bool ActiveEndpoints(ComPtr<IMMDeviceCollection>& endpoints, UINT& count) const;

    IDevicePlatform* platform_;
};
