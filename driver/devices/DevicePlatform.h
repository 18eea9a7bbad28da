// The narrow seam between the device layer and the platform's device services. Production uses
// the Win32 implementation; tests put virtual hardware behind it. Only these services (and the
// clock streams are timed against, and the multimedia mixer) go through the seam: registry
// settings, COM, windows, threads and events are always the system's own.
#pragma once

#include "MixerApi.h"

#include <windows.h>
#include <ks.h>
#include <mmdeviceapi.h>

#include <string>
#include <vector>

struct DeviceInterface {
    std::wstring path;        // the interface's device path, for OpenDevice
    std::wstring instanceId;  // the device instance id, for ReadDeviceRegistryString
};

class IDevicePlatform {
public:
    virtual ~IDevicePlatform() = default;

    // Present interfaces of a device interface class (SetupAPI), in enumeration order. False
    // when the class cannot be enumerated at all.
    virtual bool ListInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces) = 0;

    // SetupDiGetDeviceInterfaceAlias: the Flags (SPINT_*) of the alias in aliasClass of the
    // interface with this path in interfaceClass. False when there is no such alias.
    virtual bool GetInterfaceAlias(const GUID& interfaceClass, const std::wstring& path, const GUID& aliasClass,
                                   DWORD& aliasFlags) = 0;

    // CreateFileW on a device path (read and write access, OPEN_EXISTING); INVALID_HANDLE_VALUE on
    // failure.
    virtual HANDLE OpenDevice(const std::wstring& path, DWORD shareMode, DWORD flagsAndAttributes) = 0;
    virtual void CloseDevice(HANDLE device) = 0;

    // DeviceIoControl; overlapped may be null for a synchronous request.
    virtual BOOL IoControl(HANDLE device, DWORD code, void* in, DWORD inBytes, void* out, DWORD outBytes,
                           DWORD* returned, OVERLAPPED* overlapped) = 0;
    // CancelIoEx of one overlapped request; the request still completes (as cancelled, or as it
    // finished) and signals its event.
    virtual BOOL CancelIo(HANDLE device, OVERLAPPED* overlapped) = 0;
    // GetOverlappedResult; with wait, blocks until the request has completed.
    virtual BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) = 0;

    // KsCreatePin from "ksuser.dll"; a Win32 error code, ERROR_SUCCESS on success.
    virtual DWORD CreatePin(HANDLE filter, KSPIN_CONNECT* connect, ACCESS_MASK access, HANDLE* pin) = 0;

    // A REG_SZ value of the device's key under HKLM\SYSTEM\CurrentControlSet\Enum\<instance id>,
    // read with at most maxBytes bytes. False when the key or the value is missing.
    virtual bool ReadDeviceRegistryString(const std::wstring& instanceId, const wchar_t* name, DWORD maxBytes,
                                          std::wstring& value) = 0;

    // CoCreateInstance of the audio endpoint enumerator.
    virtual HRESULT CreateEndpointEnumerator(IMMDeviceEnumerator** enumerator) = 0;

    // Seconds on the clock that streams from different devices are timed against: the
    // performance counter.
    virtual double Seconds()
    {
        LARGE_INTEGER count, frequency;
        QueryPerformanceCounter(&count);
        QueryPerformanceFrequency(&frequency);
        return double(count.QuadPart) / double(frequency.QuadPart);
    }

    // The multimedia mixer that sets a wave device's level where the endpoint API is not used.
    virtual IMixerApi& Mixer() { return SystemMixerApi(); }
};

// The platform's own services.
IDevicePlatform& SystemDevicePlatform();

// A device handle opened through a platform, closed through it.
class CDeviceHandle {
public:
    CDeviceHandle(IDevicePlatform& platform, HANDLE handle) : platform_(&platform), handle_(handle) {}
    CDeviceHandle(const CDeviceHandle&) = delete;
    CDeviceHandle& operator=(const CDeviceHandle&) = delete;
    ~CDeviceHandle() { if (valid()) platform_->CloseDevice(handle_); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

private:
    IDevicePlatform* platform_;
    HANDLE handle_;
};
