// The whole virtual machine behind the device platform seam: a USB bus whose audio interfaces
// expose endpoints of the virtual audio system, with interface paths that tie each endpoint to
// its USB connection as Windows does, and a multimedia mixer.
#pragma once

#include "VirtualAudio.h"
#include "VirtualKs.h"
#include "VirtualMixer.h"
#include "VirtualUsbBus.h"

struct VirtualInterface {
    CVirtualUsbBus::NodeId device = -1;
    CVirtualAudioSystem::EndpointId capture = -1;  // -1 = the interface has no such endpoint
    CVirtualAudioSystem::EndpointId render = -1;
    CVirtualKs::FilterId captureFilter = -1;  // the KS filter on the endpoint's path
    CVirtualKs::FilterId renderFilter = -1;
};

class CVirtualHardware final : public IDevicePlatform {
public:
    CVirtualUsbBus usb;
    CVirtualAudioSystem audio;
    CVirtualKs ks;
    CVirtualMixer mixer;
    // False: the endpoint enumerator is not registered, as before Windows Vista.
    bool endpointApi = true;

    // The interface path as an endpoint's property store holds it: behind Windows' "{2}." prefix.
    static std::wstring EndpointPath(const std::wstring& interfacePath) { return L"{2}." + interfacePath; }
    std::wstring EndpointPath(CVirtualUsbBus::NodeId device, bool capture) const
    {
        return EndpointPath(usb.AudioEndpointPath(device, capture));
    }

    // Endpoints, and their KS filters, for a device of the bus; 0 channels means the interface
    // has no such endpoint. The filters are present while the device is.
    VirtualInterface AddEndpoints(CVirtualUsbBus::NodeId device, int captureChannels, int renderChannels,
                                  const std::wstring& friendlyName = L"USB Audio");
    // An interface straight on a new host controller's root hub.
    VirtualInterface AddInterface(UsbIds ids, int captureChannels = 2, int renderChannels = 2);
    // The system's default devices, which are not USB endpoints (no USB device, no filters).
    VirtualInterface AddDefaultDevices(int captureChannels = 2, int renderChannels = 2);

    bool ListInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces) override;
    bool GetInterfaceAlias(const GUID& interfaceClass, const std::wstring& path, const GUID& aliasClass,
                           DWORD& aliasFlags) override;
    HANDLE OpenDevice(const std::wstring& path, DWORD shareMode, DWORD flagsAndAttributes) override;
    void CloseDevice(HANDLE device) override;
    BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned,
                   OVERLAPPED* overlapped) override;
    BOOL CancelIo(HANDLE device, OVERLAPPED* overlapped) override;
    BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) override;
    DWORD CreatePin(HANDLE filter, KSPIN_CONNECT* connect, ACCESS_MASK access, HANDLE* pin) override;
    bool ReadDeviceRegistryString(const std::wstring& instanceId, const wchar_t* name, DWORD maxBytes,
                                  std::wstring& value) override;
    HRESULT CreateEndpointEnumerator(IMMDeviceEnumerator** enumerator) override;
    // The audio system's reference clock.
    double Seconds() override;
    IMixerApi& Mixer() override { return mixer; }

private:
    CVirtualUsbBus::NodeId freeRoot_ = -1;
    int nextRootPort_ = 1;
};
