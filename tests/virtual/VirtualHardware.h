// The whole virtual machine behind the device platform seam: a USB bus whose audio interfaces
// expose endpoints of the virtual audio system, with interface paths that tie each endpoint to
// its USB connection as Windows does.
#pragma once

#include "VirtualAudio.h"
#include "VirtualUsbBus.h"

struct VirtualInterface {
    CVirtualUsbBus::NodeId device = -1;
    CVirtualAudioSystem::EndpointId capture = -1;  // -1 = the interface has no such endpoint
    CVirtualAudioSystem::EndpointId render = -1;
};

class CVirtualHardware final : public IDevicePlatform {
public:
    CVirtualUsbBus usb;
    CVirtualAudioSystem audio;

    // Endpoints for a device of the bus; 0 channels means the interface has no such endpoint.
    VirtualInterface AddEndpoints(CVirtualUsbBus::NodeId device, int captureChannels, int renderChannels,
                                  const std::wstring& friendlyName = L"USB Audio");
    // An interface straight on a new host controller's root hub.
    VirtualInterface AddInterface(UsbIds ids, int captureChannels = 2, int renderChannels = 2);
    // The system's default devices, which are not USB endpoints.
    void AddDefaultDevices(int captureChannels = 2, int renderChannels = 2);

    bool ListInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces) override;
    HANDLE OpenDevice(const std::wstring& path, DWORD flagsAndAttributes) override;
    void CloseDevice(HANDLE device) override;
    BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes, DWORD* returned,
                   OVERLAPPED* overlapped) override;
    DWORD CreatePin(HANDLE filter, KSPIN_CONNECT* connect, ACCESS_MASK access, HANDLE* pin) override;
    bool ReadDeviceRegistryString(const std::wstring& instanceId, const wchar_t* name, DWORD maxBytes,
                                  std::wstring& value) override;
    HRESULT CreateEndpointEnumerator(IMMDeviceEnumerator** enumerator) override;

private:
    CVirtualUsbBus::NodeId freeRoot_ = -1;
    int nextRootPort_ = 1;
};
