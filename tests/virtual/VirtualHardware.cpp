#include "VirtualHardware.h"

#include <core/KnownDeviceTable.h>

VirtualInterface CVirtualHardware::AddEndpoints(CVirtualUsbBus::NodeId device, int captureChannels,
                                                int renderChannels, const std::wstring& friendlyName)
{
    static const CKnownDeviceTable table;
    const UsbIds ids = usb.Ids(device);
    const auto present = [this, device] { return usb.IsPresent(device); };
    const auto addFilter = [&](bool capture, int channels) {
        return ks.AddFilter(CVirtualKs::AudioInterfaceFilter(usb.AudioEndpointPath(device, capture), ids.vendorId,
                                                             ids.productId, capture, channels, table),
                            present);
    };
    VirtualInterface result;
    result.device = device;
    if (captureChannels > 0) {
        result.capture =
            audio.AddEndpoint(eCapture, EndpointPath(device, true), friendlyName, captureChannels);
        result.captureFilter = addFilter(true, captureChannels);
        ks.SetStreamClock(result.captureFilter, audio, result.capture);
    }
    if (renderChannels > 0) {
        result.render = audio.AddEndpoint(eRender, EndpointPath(device, false), friendlyName, renderChannels);
        result.renderFilter = addFilter(false, renderChannels);
        ks.SetStreamClock(result.renderFilter, audio, result.render);
    }
    return result;
}

VirtualInterface CVirtualHardware::AddInterface(UsbIds ids, int captureChannels, int renderChannels)
{
    // Root hubs have eight ports; a new controller is added when one is full.
    if (freeRoot_ < 0 || nextRootPort_ > 8) {
        freeRoot_ = usb.AddHostController();
        nextRootPort_ = 1;
    }
    return AddEndpoints(usb.AddDevice(freeRoot_, nextRootPort_++, ids), captureChannels, renderChannels);
}

VirtualInterface CVirtualHardware::AddDefaultDevices(int captureChannels, int renderChannels)
{
    const auto render = audio.AddEndpoint(
        eRender, EndpointPath(L"\\\\?\\SWD#MMDEVAPI#{0.0.0.00000000}.{fd47d9cc-4218-4135-9ce2-0c195c87405b}"),
        L"Speakers", renderChannels);
    const auto capture = audio.AddEndpoint(
        eCapture, EndpointPath(L"\\\\?\\SWD#MMDEVAPI#{0.0.1.00000000}.{25da76d0-033c-4235-9002-19f48894ac6f}"),
        L"Microphone", captureChannels);
    audio.SetDefault(eRender, render);
    audio.SetDefault(eCapture, capture);
    VirtualInterface result;
    result.capture = capture;
    result.render = render;
    return result;
}

bool CVirtualHardware::ListInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces)
{
    if (!usb.ListInterfaces(interfaceClass, interfaces)) return false;
    ks.ListInterfaces(interfaceClass, interfaces);
    return true;
}

bool CVirtualHardware::GetInterfaceAlias(const GUID& interfaceClass, const std::wstring& path, const GUID& aliasClass,
                                         DWORD& aliasFlags)
{
    return ks.GetInterfaceAlias(interfaceClass, path, aliasClass, aliasFlags);
}

HANDLE CVirtualHardware::OpenDevice(const std::wstring& path, DWORD shareMode, DWORD flagsAndAttributes)
{
    if (ks.OwnsPath(path)) return ks.OpenDevice(path, shareMode, flagsAndAttributes);
    return usb.OpenDevice(path, shareMode, flagsAndAttributes);
}

void CVirtualHardware::CloseDevice(HANDLE device)
{
    if (ks.OwnsHandle(device)) ks.CloseDevice(device);
    else usb.CloseDevice(device);
}

BOOL CVirtualHardware::IoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                                 DWORD* returned, OVERLAPPED* overlapped)
{
    if (ks.OwnsHandle(device)) return ks.IoControl(device, code, in, inBytes, out, outBytes, returned, overlapped);
    return usb.IoControl(device, code, in, inBytes, out, outBytes, returned, overlapped);
}

BOOL CVirtualHardware::CancelIo(HANDLE device, OVERLAPPED* overlapped)
{
    if (ks.OwnsHandle(device)) return ks.CancelIo(device, overlapped);
    return usb.CancelIo(device, overlapped);
}

BOOL CVirtualHardware::GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait)
{
    if (ks.OwnsHandle(device)) return ks.GetOverlappedResult(device, overlapped, transferred, wait);
    return usb.GetOverlappedResult(device, overlapped, transferred, wait);
}

DWORD CVirtualHardware::CreatePin(HANDLE filter, KSPIN_CONNECT* connect, ACCESS_MASK access, HANDLE* pin)
{
    return ks.CreatePin(filter, connect, access, pin);
}

bool CVirtualHardware::ReadDeviceRegistryString(const std::wstring& instanceId, const wchar_t* name, DWORD maxBytes,
                                                std::wstring& value)
{
    return usb.ReadDeviceRegistryString(instanceId, name, maxBytes, value);
}

HRESULT CVirtualHardware::CreateEndpointEnumerator(IMMDeviceEnumerator** enumerator)
{
    if (!endpointApi) {
        *enumerator = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    return audio.CreateEnumerator(enumerator);
}

double CVirtualHardware::Seconds() { return double(audio.Now()) / audio.referenceRate(); }
