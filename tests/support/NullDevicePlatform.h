// A platform without any device: no USB bus, no endpoint API. Tests that need one service
// derive from it and answer only that.
#pragma once

#include <devices/DevicePlatform.h>

class CNullDevicePlatform : public IDevicePlatform {
public:
    bool ListInterfaces(const GUID&, std::vector<DeviceInterface>& interfaces) override
    {
        interfaces.clear();
        return true;
    }
    bool GetInterfaceAlias(const GUID&, const std::wstring&, const GUID&, DWORD& aliasFlags) override
    {
        aliasFlags = 0;
        return false;
    }
    HANDLE OpenDevice(const std::wstring&, DWORD, DWORD) override { return INVALID_HANDLE_VALUE; }
    void CloseDevice(HANDLE) override {}
    BOOL IoControl(HANDLE, DWORD, void*, DWORD, void*, DWORD, DWORD*, OVERLAPPED*) override { return FALSE; }
    BOOL CancelIo(HANDLE, OVERLAPPED*) override { return FALSE; }
    BOOL GetOverlappedResult(HANDLE, OVERLAPPED*, DWORD*, BOOL) override { return FALSE; }
    DWORD CreatePin(HANDLE, KSPIN_CONNECT*, ACCESS_MASK, HANDLE*) override { return ERROR_NOT_SUPPORTED; }
    bool ReadDeviceRegistryString(const std::wstring&, const wchar_t*, DWORD, std::wstring&) override { return false; }
    HRESULT CreateEndpointEnumerator(IMMDeviceEnumerator** enumerator) override
    {
        *enumerator = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
};
